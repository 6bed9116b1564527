// The title, artist and album a music file carries, for the desktop's media controls: the ID3 tag of a DSF
// file (read here), and whatever the PCM decoder reads for every other file (WAV LIST INFO, FLAC and Ogg
// comments, AIFF text chunks).
#pragma once

#include "CPcmFileSource.h"

#include <cstddef>
#include <cstdint>

namespace engine {

// Reads the tags of the file at path. False when the file has none that could be read. Blocks on file
// I/O; never throws.
bool ReadFileTags(const char* path, PcmTags* tags);

// Parses an ID3v2 tag (versions 2.2, 2.3 and 2.4) of size bytes for its title, artist and album text
// frames. False when it is no such tag or holds none of the three; damaged input is refused, never read
// past its end.
bool ParseId3Tag(const std::uint8_t* data, std::size_t size, PcmTags* tags);

} // namespace engine
