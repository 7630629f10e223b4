#pragma once

// Real Ogg Vorbis files made at test time by libvorbis (oggenc) and ffmpeg from synthesized audio:
// tones, noise and silence (silent passages give one-byte audio packets), at several qualities, rates and
// channel counts, plus one chained file. Empty when the encoders are not installed (cross builds).

#include "process_runner.h"
#include "scratch_dir.h"

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

struct TestOggFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

inline std::vector<uint8_t> read_whole_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline const std::vector<TestOggFile>& test_ogg_files() {
    static const std::vector<TestOggFile> files = [] {
        std::vector<TestOggFile> out;
        const std::filesystem::path oggenc = program_on_path("oggenc"), ffmpeg = program_on_path("ffmpeg");
        if (oggenc.empty() || ffmpeg.empty()) return out; // cross builds: the encoders are Linux programs
        const ScratchDir dir("talvo-ogg");
        const auto d = [&dir](const std::string& name) { return dir.file(name); };
        const std::vector<std::string> ff = {"-nostdin", "-loglevel", "error", "-y"};
        const std::string mix = d("mix.wav");
        // Tone, then silence, then noise, stereo 44.1 kHz; a mono 8 kHz and a 5.1 48 kHz variant.
        const std::vector<std::string> source = {
            "-f",
            "lavfi",
            "-i",
            "sine=frequency=440:duration=1.5",
            "-f",
            "lavfi",
            "-i",
            "anullsrc=r=44100:cl=stereo",
            "-f",
            "lavfi",
            "-i",
            "anoisesrc=d=1.5:c=pink:a=0.2",
            "-filter_complex",
            "[0]aformat=sample_rates=44100:channel_layouts=stereo[a];"
            "[1]atrim=duration=2[b];[2]aformat=sample_rates=44100:channel_layouts=stereo[c];"
            "[a][b][c]concat=n=3:v=0:a=1",
            mix};
        struct Job {
            std::string name;
            std::filesystem::path program;
            std::vector<std::string> arguments;
        };
        const auto with = [](std::vector<std::string> first, const std::vector<std::string>& rest) {
            first.insert(first.end(), rest.begin(), rest.end());
            return first;
        };
        const std::vector<Job> jobs = {
            {"source", ffmpeg, with(ff, source)},
            {"mono8k", ffmpeg, with(ff, {"-i", mix, "-ac", "1", "-ar", "8000", d("mono8k.wav")})},
            {"surround", ffmpeg, with(ff, {"-i", mix, "-ac", "6", "-ar", "48000", d("surround.wav")})},
            {"oggenc-q-1.ogg", oggenc, {"-Q", "-q", "-1", "-o", d("oggenc-q-1.ogg"), mix}},
            {"oggenc-q5.ogg", oggenc, {"-Q", "-q", "5", "-o", d("oggenc-q5.ogg"), mix}},
            {"oggenc-q10.ogg", oggenc, {"-Q", "-q", "10", "-o", d("oggenc-q10.ogg"), mix}},
            {"oggenc-managed.ogg",
             oggenc,
             {"-Q", "--managed", "-b", "64", "-o", d("oggenc-managed.ogg"), mix}},
            {"oggenc-mono8k.ogg", oggenc, {"-Q", "-q", "2", "-o", d("oggenc-mono8k.ogg"), d("mono8k.wav")}},
            {"oggenc-surround.ogg",
             oggenc,
             {"-Q", "-q", "4", "-o", d("oggenc-surround.ogg"), d("surround.wav")}},
            {"ffmpeg-libvorbis.ogg", ffmpeg,
             with(ff, {"-i", mix, "-c:a", "libvorbis", "-q:a", "3", d("ffmpeg-libvorbis.ogg")})},
            {"ffmpeg-vorbis.ogg", ffmpeg,
             with(ff, {"-i", mix, "-c:a", "vorbis", "-strict", "-2", d("ffmpeg-vorbis.ogg")})},
        };
        for (const Job& job : jobs) {
            if (run_process(job.program, job.arguments).exit_code != 0) continue;
            if (job.name.size() > 4 && job.name.substr(job.name.size() - 4) == ".ogg")
                out.push_back({job.name, read_whole_file(utf8_path(d(job.name)))});
        }
        // A chained file: two logical streams one after the other.
        if (out.size() >= 2) {
            TestOggFile chained{"chained.ogg", out[0].bytes};
            chained.bytes.insert(chained.bytes.end(), out[3].bytes.begin(), out[3].bytes.end());
            out.push_back(std::move(chained));
        }
        return out;
    }();
    return files;
}
