#pragma once

// The Ogg files made by tests/samples/make_samples.sh (ctest runs it first); the directory comes from
// TEST_SAMPLES_DIR. Tests skip when a file is missing, e.g. when a test program is run by hand.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string sample_path(const std::string& name) {
    const char* dir = std::getenv("TEST_SAMPLES_DIR");
    return std::string(dir ? dir : "samples") + "/" + name;
}

inline std::vector<uint8_t> load_sample(const std::string& name) {
    std::ifstream in(sample_path(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every Ogg Vorbis sample file with a single logical stream.
inline const std::vector<std::string>& vorbis_sample_names() {
    static const std::vector<std::string> names = {
        "oggenc_q-1.ogg",    "oggenc_q0.ogg",        "oggenc_q3.ogg",      "oggenc_q6.ogg",
        "oggenc_q10.ogg",    "oggenc_mono.ogg",      "oggenc_8k.ogg",      "oggenc_96k.ogg",
        "oggenc_51.ogg",     "oggenc_managed.ogg",   "oggenc_silence.ogg", "oggenc_longcomment.ogg",
        "ffmpeg_vorbis.ogg", "ffmpeg_libvorbis.ogg",
    };
    return names;
}
