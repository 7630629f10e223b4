#include "ogg_samples.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace ogg_samples {
namespace {

enum class Encoder { Oggenc, FfmpegNative, FfmpegLibvorbis };
enum class Signal { Music, Silence };

struct Recipe {
    std::string name;
    Encoder encoder;
    int channels;
    int rate;
    Signal signal;
    std::string options; // encoder options
};

std::string long_comment() {
    return "-c \"LONGCOMMENT=" + std::string(70000, 'k') + "\"";
}

const std::vector<Recipe>& recipes() {
    static const std::vector<Recipe> list = {
        {"q-1_mono_22k", Encoder::Oggenc, 1, 22050, Signal::Music, "-q -1"},
        {"q0_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, "-q 0"},
        {"q3_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, "-q 3"},
        {"q6_stereo_48k", Encoder::Oggenc, 2, 48000, Signal::Music, "-q 6"},
        {"q10_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, "-q 10"},
        {"q3_surround51_48k", Encoder::Oggenc, 6, 48000, Signal::Music, "-q 3"},
        {"q0_mono_8k", Encoder::Oggenc, 1, 8000, Signal::Music, "-q 0"},
        {"q5_stereo_96k", Encoder::Oggenc, 2, 96000, Signal::Music, "-q 5"},
        {"managed_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, "--managed -b 96"},
        {"silence_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Silence, "-q 3"},
        {"long_comment_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, "-q 2 " + long_comment()},
        {"ffmpeg_native_stereo_44k", Encoder::FfmpegNative, 2, 44100, Signal::Music, ""},
        {"ffmpeg_libvorbis_stereo_44k", Encoder::FfmpegLibvorbis, 2, 44100, Signal::Music, "-q:a 4"},
    };
    return list;
}

void put_le(std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A second of tones that glide, beat and fade, with a little noise, and a quiet stretch in the middle,
// so that floors, residues and silent packets all occur. Deterministic.
std::string synthesize_wav(int channels, int rate, Signal signal) {
    const int frames = rate;
    std::string data;
    data.reserve(static_cast<size_t>(frames) * channels * 2);
    uint32_t noise = 0x12345678u;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double envelope = (t > 0.45 && t < 0.55) ? 0.0 : 1.0 - 0.6 * t;
        for (int c = 0; c < channels; ++c) {
            double v = 0.0;
            if (signal == Signal::Music) {
                const double base = 220.0 * (1 + c % 3) * (1.0 + 0.5 * t);
                v = 0.3 * std::sin(2 * std::numbers::pi * base * t) +
                    0.2 * std::sin(2 * std::numbers::pi * base * 2.01 * t) +
                    0.1 * std::sin(2 * std::numbers::pi * 3150.0 * t + c);
                noise = noise * 1664525u + 1013904223u;
                v += 0.02 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5);
                v *= envelope;
            }
            put_le(data, static_cast<uint32_t>(static_cast<int16_t>(std::lround(v * 20000.0))), 2);
        }
    }
    std::string wav = "RIFF";
    put_le(wav, static_cast<uint32_t>(36 + data.size()), 4);
    wav += "WAVEfmt ";
    put_le(wav, 16, 4);
    put_le(wav, 1, 2);
    put_le(wav, static_cast<uint32_t>(channels), 2);
    put_le(wav, static_cast<uint32_t>(rate), 4);
    put_le(wav, static_cast<uint32_t>(rate * channels * 2), 4);
    put_le(wav, static_cast<uint32_t>(channels * 2), 2);
    put_le(wav, 16, 2);
    wav += "data";
    put_le(wav, static_cast<uint32_t>(data.size()), 4);
    return wav + data;
}

fs::path cache_dir() {
    const char* bin = std::getenv("PROJECT_BIN_DIR");
    fs::path dir =
        bin && *bin ? fs::path(bin) / ".." / "ogg-samples" : fs::temp_directory_path() / "talvo-ogg-samples";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

std::string command_for(const Recipe& r, const std::string& wav, const std::string& out) {
    switch (r.encoder) {
    case Encoder::Oggenc:
        return "oggenc -Q " + r.options + " -o '" + out + "' '" + wav + "' >/dev/null 2>&1";
    case Encoder::FfmpegNative:
        return "ffmpeg -nostdin -v error -y -i '" + wav + "' -c:a vorbis -strict -2 " + r.options + " '" +
               out + "' >/dev/null 2>&1";
    case Encoder::FfmpegLibvorbis:
        return "ffmpeg -nostdin -v error -y -i '" + wav + "' -c:a libvorbis " + r.options + " '" + out +
               "' >/dev/null 2>&1";
    }
    return {};
}

#ifndef _WIN32
bool tool_exists(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}
#endif

} // namespace

const std::vector<std::string>& sample_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const Recipe& r : recipes())
            n.push_back(r.name);
        return n;
    }();
    return names;
}

bool encoders_available() {
#ifdef _WIN32
    return false;
#else
    static const bool available = tool_exists("oggenc") && tool_exists("ffmpeg");
    return available;
#endif
}

std::string sample_path(const std::string& name) {
    static std::map<std::string, std::string> made;
    if (auto it = made.find(name); it != made.end()) return it->second;
    if (!encoders_available()) return {};
    const Recipe* recipe = nullptr;
    for (const Recipe& r : recipes())
        if (r.name == name) recipe = &r;
    if (!recipe) return {};

    // The file name carries a hash of the recipe, so a changed recipe never meets a stale file.
    const fs::path dir = cache_dir();
    const std::string key = std::to_string(std::hash<std::string>{}(
        command_for(*recipe, "", "") + std::to_string(recipe->channels) + "/" + std::to_string(recipe->rate) +
        (recipe->signal == Signal::Music ? "m" : "s")));
    const fs::path final_path = dir / (name + "-" + key + ".ogg");
    std::error_code ec;
    if (!fs::exists(final_path, ec)) {
#ifndef _WIN32
        // Test programs run in parallel: each encodes into its own files and renames atomically.
        const std::string unique = std::to_string(::getpid());
#else
        const std::string unique = "0";
#endif
        const fs::path wav = dir / (name + "-" + unique + ".wav");
        const fs::path tmp = dir / (name + "-" + unique + ".tmp.ogg");
        {
            std::ofstream f(wav, std::ios::binary);
            const std::string bytes = synthesize_wav(recipe->channels, recipe->rate, recipe->signal);
            f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        const int rc = std::system(command_for(*recipe, wav.string(), tmp.string()).c_str());
        fs::remove(wav, ec);
        if (rc != 0 || !fs::exists(tmp, ec)) {
            fs::remove(tmp, ec);
            return {};
        }
        fs::rename(tmp, final_path, ec);
        if (ec) return {};
    }
    made[name] = final_path.string();
    return final_path.string();
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

} // namespace ogg_samples
