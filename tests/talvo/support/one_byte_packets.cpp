#include "one_byte_packets.h"

#include "ogg/ogg_crc.h"
#include "ogg/ogg_page.h"
#include "vorbis_reference.h"

#include <algorithm>

namespace {

constexpr size_t kHeaderPackets = 3;

int ilog(uint32_t v) {
    int n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

// The setup that says how wide an audio packet's first fields are.
struct FirstFields {
    int channels = 0;
    int mode_bits = 0;
    std::vector<int> blockflags;
};

bool first_fields(const std::vector<PacketPlace>& packets, FirstFields& fields) {
    if (packets.size() < kHeaderPackets) return false;
    vorbis_reference::LogicalStream stream;
    for (size_t i = 0; i < kHeaderPackets; ++i)
        stream.packets.push_back(packets[i].bytes);
    vorbis_reference::StreamSetup setup;
    if (!vorbis_reference::parse_headers(stream, setup)) return false;
    fields.channels = setup.channels;
    fields.mode_bits = ilog(static_cast<uint32_t>(setup.modes.size() - 1));
    for (const vorbis_reference::Mode& mode : setup.modes)
        fields.blockflags.push_back(mode.blockflag);
    return true;
}

// Bits of the packet type, mode number and window flags at the start of an audio packet; 0 when the
// packet is empty, not an audio packet or names no mode.
int leading_bits(const FirstFields& fields, const std::vector<uint8_t>& packet) {
    if (packet.empty() || (packet[0] & 1)) return 0;
    const size_t mode = (packet[0] >> 1) & ((1u << fields.mode_bits) - 1);
    if (mode >= fields.blockflags.size()) return 0;
    return 1 + fields.mode_bits + (fields.blockflags[mode] ? 2 : 0);
}

} // namespace

std::vector<PacketPlace> packet_places(const std::vector<uint8_t>& ogg) {
    const auto spans = vorbis_reference::page_spans(ogg);
    std::vector<PacketPlace> packets;
    if (spans.empty()) return packets;
    size_t covered = 0;
    bool open = false;
    for (size_t p = 0; p < spans.size(); ++p) {
        const uint8_t* page = ogg.data() + spans[p].first;
        if (read_le32(page + 14) != read_le32(ogg.data() + 14)) return {};
        const size_t segments = page[26];
        const uint8_t* payload = page + 27 + segments;
        for (size_t s = 0; s < segments; ++s) {
            const uint8_t v = page[27 + s];
            if (!open) {
                packets.emplace_back();
                packets.back().first_page = p;
                open = true;
            }
            PacketPlace& packet = packets.back();
            packet.bytes.insert(packet.bytes.end(), payload, payload + v);
            payload += v;
            if (v < 255) {
                packet.length = packet.bytes.size();
                packet.last_page = p;
                packet.ends_its_page = s + 1 == segments;
                open = false;
            }
        }
        covered = spans[p].first + spans[p].second;
    }
    if (covered != ogg.size()) return {};
    if (open) packets.pop_back(); // a packet cut off by the file's end
    return packets;
}

OneBytePlacements one_byte_placements(const std::vector<uint8_t>& ogg) {
    OneBytePlacements found;
    const std::vector<PacketPlace> packets = packet_places(ogg);
    FirstFields fields;
    if (!first_fields(packets, fields)) return found;
    auto one_byte = [&](size_t i) {
        return i >= kHeaderPackets && i < packets.size() && packets[i].length == 1;
    };
    size_t run = 0;
    for (size_t i = kHeaderPackets; i < packets.size(); ++i) {
        if (!one_byte(i)) {
            run = 0;
            continue;
        }
        ++found.count;
        found.longest_run = std::max(found.longest_run, ++run);
        const bool last = i + 1 == packets.size();
        found.at_stream_start = found.at_stream_start || i == kHeaderPackets;
        found.last_of_stream = found.last_of_stream || last;
        found.last_on_a_page = found.last_on_a_page || (packets[i].ends_its_page && !last);
        found.alone_between_full =
            found.alone_between_full ||
            (!last && i > kHeaderPackets && packets[i - 1].length > 1 && packets[i + 1].length > 1);
        const int needed = leading_bits(fields, packets[i].bytes) + fields.channels;
        found.floor_flags_past_end = found.floor_flags_past_end || needed > 8;
        found.floor_flags_fill_byte = found.floor_flags_fill_byte || needed == 8;
    }
    return found;
}

std::vector<uint8_t> cut_audio_packets(const std::vector<uint8_t>& ogg,
                                       const std::function<bool(size_t)>& choose) {
    const std::vector<PacketPlace> packets = packet_places(ogg);
    FirstFields fields;
    if (!first_fields(packets, fields)) return {};
    // The byte each chosen packet becomes, or -1 to keep the packet as it is.
    std::vector<int> cut(packets.size(), -1);
    for (size_t i = kHeaderPackets; i < packets.size(); ++i) {
        const int kept = leading_bits(fields, packets[i].bytes);
        if (kept == 0 || kept > 8 || packets[i].first_page != packets[i].last_page) continue;
        if (choose(i - kHeaderPackets)) cut[i] = packets[i].bytes[0] & ((1 << kept) - 1);
    }

    std::vector<uint8_t> out;
    size_t packet = 0;      // the packet the next segment belongs to
    bool in_packet = false; // a packet is open across segments
    for (const auto& [offset, size] : vorbis_reference::page_spans(ogg)) {
        const uint8_t* page = ogg.data() + offset;
        const size_t segments = page[26];
        const uint8_t* payload = page + 27 + segments;
        std::vector<uint8_t> lacing, body;
        for (size_t s = 0; s < segments; ++s) {
            const uint8_t v = page[27 + s];
            const bool first_segment = !in_packet;
            if (packet < cut.size() && cut[packet] >= 0) {
                if (first_segment) {
                    lacing.push_back(1);
                    body.push_back(static_cast<uint8_t>(cut[packet]));
                }
            } else {
                lacing.push_back(v);
                body.insert(body.end(), payload, payload + v);
            }
            payload += v;
            in_packet = v == 255;
            if (!in_packet) ++packet;
        }
        const size_t start = out.size();
        out.insert(out.end(), page, page + 26);
        out.push_back(static_cast<uint8_t>(lacing.size()));
        out.insert(out.end(), lacing.begin(), lacing.end());
        out.insert(out.end(), body.begin(), body.end());
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(start) + 22,
                  out.begin() + static_cast<std::ptrdiff_t>(start) + 26, 0);
        write_le32(out.data() + start + 22, ogg_page_crc(out.data() + start, out.size() - start));
    }
    return out;
}
