#include "ogg_samples.h"

#include "process_runner.h"
#include "scratch_dir.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>

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
    std::vector<std::string> options; // encoder options
};

std::vector<std::string> long_comment() {
    return {"-q", "2", "-c", "LONGCOMMENT=" + std::string(70000, 'k')};
}

const std::vector<Recipe>& recipes() {
    static const std::vector<Recipe> list = {
        {"q-1_mono_22k", Encoder::Oggenc, 1, 22050, Signal::Music, {"-q", "-1"}},
        {"q0_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, {"-q", "0"}},
        {"q3_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, {"-q", "3"}},
        {"q6_stereo_48k", Encoder::Oggenc, 2, 48000, Signal::Music, {"-q", "6"}},
        {"q10_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, {"-q", "10"}},
        {"q3_surround51_48k", Encoder::Oggenc, 6, 48000, Signal::Music, {"-q", "3"}},
        {"q0_mono_8k", Encoder::Oggenc, 1, 8000, Signal::Music, {"-q", "0"}},
        {"q5_stereo_96k", Encoder::Oggenc, 2, 96000, Signal::Music, {"-q", "5"}},
        {"managed_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, {"--managed", "-b", "96"}},
        {"silence_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Silence, {"-q", "3"}},
        {"long_comment_stereo_44k", Encoder::Oggenc, 2, 44100, Signal::Music, long_comment()},
        {"ffmpeg_native_stereo_44k", Encoder::FfmpegNative, 2, 44100, Signal::Music, {}},
        {"ffmpeg_libvorbis_stereo_44k", Encoder::FfmpegLibvorbis, 2, 44100, Signal::Music, {"-q:a", "4"}},
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

// Beside the build's programs, where the files outlive the run; a test program run on its own keeps
// them in its scratch directory.
fs::path cache_dir() {
    const char* bin = std::getenv("PROJECT_BIN_DIR");
    fs::path dir = bin && *bin ? fs::path(bin) / ".." / "ogg-samples" : program_scratch_dir() / "ogg-samples";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

struct Command {
    fs::path program;
    std::vector<std::string> arguments;
};

Command command_for(const Recipe& r, const std::string& wav, const std::string& out) {
    Command command;
    switch (r.encoder) {
    case Encoder::Oggenc:
        command = {program_on_path("oggenc"), {"-Q"}};
        command.arguments.insert(command.arguments.end(), r.options.begin(), r.options.end());
        command.arguments.insert(command.arguments.end(), {"-o", out, wav});
        return command;
    case Encoder::FfmpegNative:
    case Encoder::FfmpegLibvorbis:
        command = {program_on_path("ffmpeg"), {"-nostdin", "-v", "error", "-y", "-i", wav, "-c:a"}};
        if (r.encoder == Encoder::FfmpegNative)
            command.arguments.insert(command.arguments.end(), {"vorbis", "-strict", "-2"});
        else
            command.arguments.push_back("libvorbis");
        command.arguments.insert(command.arguments.end(), r.options.begin(), r.options.end());
        command.arguments.push_back(out);
        return command;
    }
    return command;
}

// What the recipe's file depends on, as text.
std::string recipe_key(const Recipe& r) {
    std::string key;
    for (const std::string& word : command_for(r, "", "").arguments)
        key += word + " ";
    return key + std::to_string(r.channels) + "/" + std::to_string(r.rate) +
           (r.signal == Signal::Music ? "m" : "s");
}

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
    static const bool available = !program_on_path("oggenc").empty() && !program_on_path("ffmpeg").empty();
    return available;
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
    const std::string key = std::to_string(std::hash<std::string>{}(recipe_key(*recipe)));
    const fs::path final_path = dir / (name + "-" + key + ".ogg");
    std::error_code ec;
    if (!fs::exists(final_path, ec)) {
        // Test programs run in parallel: each encodes into its own files and renames atomically.
        const std::string unique = std::to_string(current_process_id());
        const fs::path wav = dir / (name + "-" + unique + ".wav");
        const fs::path tmp = dir / (name + "-" + unique + ".tmp.ogg");
        {
            std::ofstream f(wav, std::ios::binary);
            const std::string bytes = synthesize_wav(recipe->channels, recipe->rate, recipe->signal);
            f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        const Command command = command_for(*recipe, wav.string(), tmp.string());
        const int rc = run_process(command.program, command.arguments).exit_code;
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
