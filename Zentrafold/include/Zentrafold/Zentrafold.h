/* Zentrafold: up-conversion of 44 100 Hz stereo PCM to DSD64.
 *
 * One conversion unit is 512 PCM frames (interleaved left/right, little-endian; 16-bit: 2048 bytes, packed
 * 24-bit: 3072 bytes) and becomes one DSD block of 8192 bytes: 4096 bytes of the left channel, then 4096 of
 * the right, eight one-bit samples per byte, the earliest sample in the least significant bit. PCM full
 * scale is 50 % modulation, so that no PCM peak can overload the modulator.
 *
 * The converter keeps its state between calls: every track start begins with an Initial call, which takes
 * the first 512 frames and primes the filters without producing output; Buffer calls then continue the same
 * stream, and a Final call may end it. These functions share one process-wide converter and must be called
 * from one thread at a time; the C++ class in ZentrafoldConverter.h holds an independent converter for other
 * users.
 */
#ifndef ZENTRAFOLD_ZENTRAFOLD_H
#define ZENTRAFOLD_ZENTRAFOLD_H

#ifdef __cplusplus
extern "C" {
#endif

/* Starts a new stream with the first 512 frames of 16-bit (or 24-bit) PCM. Returns 0, or -1 for a null
 * pointer (the state is then reset to silence). */
int ZtfDirectConvertInitialBuffer16(const void* pcm);
int ZtfDirectConvertInitialBuffer24(const void* pcm);

/* Converts unitCount x 512 frames. On return *output points to unitCount DSD blocks in the converter's own
 * buffer, valid until the next call, and *outputSize is unitCount x 8192. Returns 0, or -1 (with *output
 * null and *outputSize 0) for a null pointer or a unit count below 1. */
int ZtfDirectConvertBuffer16(const void* pcm, int unitCount, unsigned char** output,
                             unsigned int* outputSize);
int ZtfDirectConvertBuffer24(const void* pcm, int unitCount, unsigned char** output,
                             unsigned int* outputSize);

/* Ends the stream: converts unitCount x 512 frames as the Buffer calls do, the last unit being silence, and
 * lands the last block on the DSD silence pattern, so that 0x69 bytes can follow it without a click (see
 * Converter::ConvertFinal). The next stream starts with an Initial call. Returns as the Buffer calls do. */
int ZtfDirectConvertFinalBuffer16(const void* pcm, int unitCount, unsigned char** output,
                                  unsigned int* outputSize);
int ZtfDirectConvertFinalBuffer24(const void* pcm, int unitCount, unsigned char** output,
                                  unsigned int* outputSize);

#ifdef __cplusplus
}
#endif

#endif
