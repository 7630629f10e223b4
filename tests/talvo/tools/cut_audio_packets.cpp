// cut_audio_packets IN.ogg OUT.ogg PACKETS: cuts chosen audio packets of a single-stream Ogg Vorbis file to
// one byte (their type bit, mode number and window flags; see one_byte_packets.h). Makes the test files
// in tests/data/one-byte-packets (see make.sh there).
//
// PACKETS is a comma-separated list; audio packets count from 0, the first packet after the headers:
//   N or A-B     those packets
//   last         the stream's final packet
//   page-ends/K  the packet that ends every K-th page (when a packet ends it and the stream goes on)
//   every/K      every K-th packet, starting at K/2

#include "one_byte_packets.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

namespace {

constexpr size_t kHeaderPackets = 3;

bool parse_choice(const std::string& choice, const std::vector<PacketPlace>& packets,
                  std::set<size_t>& chosen) {
    const size_t audio = packets.size() > kHeaderPackets ? packets.size() - kHeaderPackets : 0;
    std::stringstream list(choice);
    std::string token;
    while (std::getline(list, token, ',')) {
        size_t k = 0;
        if (token == "last") {
            if (audio > 0) chosen.insert(audio - 1);
        } else if (std::sscanf(token.c_str(), "page-ends/%zu", &k) == 1 && k > 0) {
            for (size_t i = kHeaderPackets; i + 1 < packets.size(); ++i)
                if (packets[i].ends_its_page && packets[i].last_page % k == 0)
                    chosen.insert(i - kHeaderPackets);
        } else if (std::sscanf(token.c_str(), "every/%zu", &k) == 1 && k > 0) {
            for (size_t i = k / 2; i < audio; i += k)
                chosen.insert(i);
        } else {
            size_t a = 0, b = 0;
            char dash = 0;
            const int n = std::sscanf(token.c_str(), "%zu%c%zu", &a, &dash, &b);
            if (n == 1)
                b = a;
            else if (n != 3 || dash != '-' || b < a)
                return false;
            for (size_t i = a; i <= b && i < audio; ++i)
                chosen.insert(i);
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: cut_audio_packets IN.ogg OUT.ogg PACKETS\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> ogg((std::istreambuf_iterator<char>(in)), {});
    std::set<size_t> chosen;
    if (!parse_choice(argv[3], packet_places(ogg), chosen)) {
        std::fprintf(stderr, "cut_audio_packets: bad PACKETS %s\n", argv[3]);
        return 2;
    }
    const std::vector<uint8_t> out = cut_audio_packets(ogg, [&](size_t i) { return chosen.count(i) > 0; });
    if (out.empty()) {
        std::fprintf(stderr, "cut_audio_packets: %s is not a single Vorbis stream\n", argv[1]);
        return 1;
    }
    std::ofstream file(argv[2], std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}
