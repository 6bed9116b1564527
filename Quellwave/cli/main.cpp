// quellwave-cli: the player's engine without a window.
#include "CdCommands.h"
#include "CliSupport.h"
#include "Commands.h"
#include "DrivesCommand.h"
#include "OutputsCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace cli {

const char* UsageText() {
    return "usage: quellwave-cli COMMAND [ARGS]\n"
           "\n"
           "  info PATH...             show each file's format and length, or why it cannot be played;\n"
           "                           exit status 1 when any file is rejected\n"
           "  convert IN OUT.dsf       up-convert a WAV, FLAC, AIFF or other PCM file (mono or stereo, any\n"
           "                           rate from 8 to 384 kHz, resampled to 44 100 Hz) to a DSD64 DSF\n"
           "                           file; no fades are applied. The DSF holds the whole input, one DSD\n"
           "                           block per 512 frames at 44 100 Hz, the last one padded with silence\n"
           "  convert --dsd-rate N IN OUT.dsf\n"
           "                           the same at DSD64, DSD128, DSD256 or DSD512 (N = 64, 128, 256 or\n"
           "                           512)\n"
           "  play [--driver NAME] [--repeat off|one|all] [--rf-mode] [--gapless] [--start M:SS[.mmm]]\n"
           "       PATH...\n"
           "  play [--driver NAME] [--repeat off|one|all] --cd LETTER [--track N] [--start M:SS[.mmm]]\n"
           "  play --dsd-rate N ...    up-convert PCM and the CD to DSD64, DSD128, DSD256 or DSD512 (N = "
           "64,\n"
           "                           128, 256 or 512; the stored DsdRate without it), or to the highest\n"
           "                           the output takes when it takes less; DSF and DSDIFF files play at\n"
           "                           their own rate, and one at a rate the output does not take is\n"
           "                           refused\n"
           "                           play WAV, FLAC, AIFF and other PCM files (and, with --rf-mode, DSF\n"
           "                           and DSDIFF files bit-exactly)\n"
           "                           as DSD through the engine. Prints\n"
           "                           \"position TRACK MS\" about once a second and \"end\" at the end;\n"
           "                           a progress line on standard error when it is a terminal.\n"
           "                           --driver dsf:FILE records the stream as a DSF file, --driver null\n"
           "                           plays it into a sink at its DSD rate; without --driver the stored\n"
           "                           DefaultASIODriverName is used (\"auto\" when none is stored); a dsf:\n"
           "                           FILE may not be one of the files played. A DSF file holds one rate:\n"
           "                           at a change of DSD rate the recording goes on in the next file of a\n"
           "                           series beside it (rec.dsf, rec-2.dsf, rec-3.dsf, ...; a name that\n"
           "                           exists is passed over, never overwritten), each file named on\n"
           "                           standard error. --rf-mode turns on DSD file playback for this run.\n"
           "                           --gapless (or GaplessPlayback = 1) plays\n"
           "                           consecutive PCM files, or DSD files of one rate, without a fade or\n"
           "                           silence between them. --cd plays the disc in drive LETTER from\n"
           "                           track N (1 by default) to its end without gaps. --start begins the\n"
           "                           first track (the first file, or track N) that far into it; a\n"
           "                           start at or past its end is refused, naming its length. Ctrl-C (or\n"
           "                           SIGTERM, SIGHUP) fades out, ends a recording's file properly and\n"
           "                           stops. Exit status: 0 played to\n"
           "                           the end, 1 bad arguments, 2 nothing playable, 3 the output driver\n"
           "                           cannot be opened, 4 the device failed, 130 interrupted\n"
           "  drives                   list the drive letters: device, type, vendor, product, revision, and\n"
           "                           the CD library's transport, address, identity and read mode\n"
           "  toc LETTER               the disc's tracks: number, start and length in sectors, length as\n"
           "                           mm:ss.ff, audio or data, pre-emphasis; then the lead-out; then the\n"
           "                           disc's CD-Text: the album's and each track's title and performer\n"
           "  rip LETTER TRACK OUT.wav read one audio track into a WAV file (written whole or not at all)\n"
           "  rip LETTER --disc DIR [--offset N]\n"
           "                           rip the whole disc: every audio track read twice (test and copy,\n"
           "                           sectors that differ read again until two reads agree) into\n"
           "                           DIR/\"NN - Title.flac\" (the CD-Text title, else \"Track NN\"; audio\n"
           "                           before track 1 as track 00), each decoded back before it counts,\n"
           "                           with DIR/rip.cue (with the titles) and DIR/rip.log:\n"
           "                           drive, read offset (N samples, else the stored one), per track test\n"
           "                           and copy CRC, AccurateRip v1/v2 and the database's answer (its\n"
           "                           address the machine setting AccurateRipAddress), peak, pregap and\n"
           "                           unreadable places. Exit status 0 all tracks verified, 5 sectors\n"
           "                           written as silence, 6 reads that never agreed or a track the\n"
           "                           database says is not accurate, 1 the drive or a file failed\n"
           "  offset LETTER N          store N samples as the read offset of the drive model in LETTER\n"
           "  eject LETTER, load LETTER open or close the drive's tray\n"
           "  check LETTER             the drive check: finds and stores how this drive model must be\n"
           "                           read; a progress bar, then the result, grade, speed, overlap,\n"
           "                           buffer size and statuses. Exit status 0 when a read condition was\n"
           "                           stored, 1 when it failed, 130 when stopped\n"
           "  outputs                  list the ALSA outputs and the DSD modes each accepts (native DSD\n"
           "                           formats, DoP), to choose a --driver or DefaultASIODriverName\n"
           "                           and the DSD rates (DSD64, DSD128, DSD256, DSD512) each mode takes\n"
           "  --help                   show this text\n"
           "\n"
           "\"--\" ends the options of any command: what follows are paths, even when they start with '-'.\n";
}

namespace {

constexpr const char* kSummary =
    "quellwave-cli - Quellwave without a window: a DSD player engine that up-converts WAV, FLAC and\n"
    "other PCM files to DSD64, DSD128, DSD256 or DSD512 and plays DSF/DSDIFF files bit-exactly.\n"
    "\n"
    "Commands: info, convert, play, drives, toc, rip, offset, eject, load, check, outputs. Run "
    "\"quellwave-cli "
    "--help\" for "
    "their usage.\n";

} // namespace

} // namespace cli

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(cli::kSummary, stdout);
        return 0;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(cli::UsageText(), stdout);
        return 0;
    }
    if (command == "play")
        return cli::RunPlay(args);
    if (command == "drives")
        return cli::RunDrives(argc - 2, argv + 2);
    if (command == "outputs")
        return cli::RunOutputs(args);
    if (command == "rip" && std::find(args.begin(), args.end(), "--disc") != args.end())
        return cli::RunRipDisc(args);
    // convert takes --dsd-rate N besides its operands, and refuses other options as the rest do.
    if (command == "convert")
        return cli::RunConvert(args);
    // The other subcommands take operands only; "--" lets an operand start with '-'.
    std::vector<std::string> operands;
    std::string bad;
    if (!cli::TakeOperands(args, &operands, &bad)) {
        std::fprintf(stderr,
                     "quellwave-cli %s: unknown option \"%s\" (put \"--\" before a path that starts with "
                     "'-')\n\n%s",
                     command.c_str(), bad.c_str(), cli::UsageText());
        return 2;
    }
    if (command == "info")
        return cli::RunInfo(operands);
    if (command == "toc")
        return cli::RunToc(operands);
    if (command == "rip")
        return cli::RunRip(operands);
    if (command == "offset")
        return cli::RunOffset(operands);
    if (command == "eject")
        return cli::RunEject(operands);
    if (command == "load")
        return cli::RunLoad(operands);
    if (command == "check")
        return cli::RunCheck(operands);
    std::fprintf(stderr, "quellwave-cli: unknown command \"%s\"\n\n%s", command.c_str(), cli::UsageText());
    return 2;
}
