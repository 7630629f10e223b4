#pragma once

// Real Ogg Vorbis files made at test time by real encoders (oggenc, ffmpeg's native `vorbis` encoder and
// ffmpeg's libvorbis), from short synthesized clips. Files are cached by name in the build tree, so a test
// run encodes each of them once.

#include <cstdint>
#include <string>
#include <vector>

namespace ogg_samples {

// Names of every sample recipe: quality -1 to 10, mono / stereo / 5.1, 8 kHz to 96 kHz, managed bitrate,
// silence, a comment header that spans pages, and both ffmpeg encoders.
const std::vector<std::string>& sample_names();

// True where the encoders can be run (native builds with oggenc and ffmpeg on the path).
bool encoders_available();

// Path of the named sample, encoding it on first use; empty if it could not be made.
std::string sample_path(const std::string& name);

// Whole file as bytes (empty if unreadable).
std::vector<uint8_t> read_file(const std::string& path);

} // namespace ogg_samples
