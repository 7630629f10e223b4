#include "archive/bundle_manifest.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <utility>

namespace {

void put_le(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put_varint(std::vector<uint8_t>& out, uint64_t value) {
    for (; value >= 0x80; value >>= 7)
        out.push_back(static_cast<uint8_t>(value | 0x80));
    out.push_back(static_cast<uint8_t>(value));
}

// A time as its step from the previous one, zigzag-coded so that small steps back stay small.
uint64_t zigzag(int64_t time, int64_t previous) {
    const uint64_t step = static_cast<uint64_t>(time) - static_cast<uint64_t>(previous);
    return step << 1 ^ (0 - (step >> 63));
}

int64_t unzigzag(uint64_t coded, int64_t previous) {
    const uint64_t step = coded >> 1 ^ (0 - (coded & 1));
    return static_cast<int64_t>(static_cast<uint64_t>(previous) + step);
}

// The compact manifest's small fields, and the value in each that says a varint with the rest follows.
constexpr size_t kPrefixEscape = 63; // 6 bits of the head byte
constexpr size_t kMiddleEscape = 31; // 5 bits of the tail byte
constexpr size_t kSuffixEscape = 7;  // 3 bits of the tail byte
// Head and tail bytes, and a member that repeats an earlier one: its content field and the distance.
constexpr size_t kCompactMemberMinimum = 4;
// No file is longer: a length beyond it is damage (and one more than it still fits a 64-bit number).
constexpr uint64_t kManifestMaxLength = uint64_t{1} << 63;

// Reads the manifest's numbers in order; any read past the end, or a number written longer than it
// needs, leaves `ok` false.
struct PayloadReader {
    const uint8_t* p;
    size_t size;
    size_t at = 0;
    bool ok = true;

    uint64_t varint() {
        uint64_t value = 0;
        for (int shift = 0; ok; shift += 7) {
            if (at == size || shift > 63) {
                ok = false;
                break;
            }
            const uint8_t byte = p[at++];
            if (shift == 63 && byte > 1) ok = false;
            value |= uint64_t{byte & 0x7fu} << shift;
            if (!(byte & 0x80)) {
                if (byte == 0 && shift > 0) ok = false; // overlong: one meaning, one way to write it
                return value;
            }
        }
        return 0;
    }
    uint8_t byte() {
        if (at == size) {
            ok = false;
            return 0;
        }
        return p[at++];
    }
    uint64_t le64() {
        if (size - at < 8) {
            ok = false;
            return 0;
        }
        uint64_t value = 0;
        for (int i = 7; i >= 0; --i)
            value = value << 8 | p[at + static_cast<size_t>(i)];
        at += 8;
        return value;
    }
};

size_t shared_prefix(const std::string& a, const std::string& b) {
    size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n])
        ++n;
    return n;
}

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool valid_utf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<uint8_t>(text[i]);
        size_t extra = 0;
        uint32_t value = 0, least = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            extra = 1, value = c & 0x1f, least = 0x80;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2, value = c & 0x0f, least = 0x800;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3, value = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            value = value << 6 | (next & 0x3f);
        }
        if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return false;
        i += extra + 1;
    }
    return true;
}

std::string upper_ascii(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Names Windows keeps for devices, with or without an extension (CON, CON.txt).
bool reserved_on_windows(const std::string& component) {
    const std::string stem = upper_ascii(component.substr(0, component.find('.')));
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : kNames)
        if (stem == name) return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

std::string component_refusal(const std::string& component) {
    if (component.empty()) return "has an empty component";
    if (component == "." || component == "..") return "has a \"" + component + "\" component";
    if (component.size() > kManifestMaxComponent) return "has a component longer than 255 bytes";
    for (char c : component) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return "has a control character";
        if (std::string("<>:\"|?*").find(c) != std::string::npos)
            return std::string("has a character that Windows refuses ('") + c + "')";
    }
    if (component.back() == '.' || component.back() == ' ')
        return "has a component ending in a dot or a space (Windows refuses it)";
    if (reserved_on_windows(component)) return "has a name that Windows keeps for a device";
    return "";
}

// A path as a message shows it: control characters (a NUL among them) as '?'.
std::string shown(const std::string& path) {
    std::string text = path.substr(0, 200);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return "\"" + text + (path.size() > 200 ? "...\"" : "\"");
}

} // namespace

ExtensionRecord manifest_record(const std::vector<BundleMember>& members) {
    ExtensionRecord record;
    record.type = kRecordCompactManifest;
    std::vector<uint8_t>& out = record.payload;
    put_varint(out, members.size());
    std::string previous;
    int64_t previous_time = 0;
    uint16_t previous_permissions = kManifestUsualPermissions;
    std::map<std::pair<uint64_t, uint64_t>, size_t>
        contents; // length and checksum: the last member with them
    for (size_t i = 0; i < members.size(); ++i) {
        const BundleMember& member = members[i];
        const std::string& path = member.path;
        const size_t prefix = shared_prefix(previous, path);
        // The suffix is taken from what is left of both paths after the prefix, so the two never overlap.
        size_t suffix = 0;
        while (prefix + suffix < previous.size() && prefix + suffix < path.size() &&
               previous[previous.size() - 1 - suffix] == path[path.size() - 1 - suffix])
            ++suffix;
        const size_t middle = path.size() - prefix - suffix;
        const bool new_time = member.mtime_ns != previous_time;
        const bool new_permissions = member.permissions != previous_permissions;
        out.push_back(static_cast<uint8_t>(std::min<size_t>(prefix, kPrefixEscape) << 2 |
                                           (new_permissions ? 2 : 0) | (new_time ? 1 : 0)));
        if (prefix >= kPrefixEscape) put_varint(out, prefix - kPrefixEscape);
        out.push_back(static_cast<uint8_t>(std::min<size_t>(middle, kMiddleEscape) << 3 |
                                           std::min<size_t>(suffix, kSuffixEscape)));
        if (suffix >= kSuffixEscape) put_varint(out, suffix - kSuffixEscape);
        if (middle >= kMiddleEscape) put_varint(out, middle - kMiddleEscape);
        out.insert(out.end(), path.begin() + static_cast<ptrdiff_t>(prefix),
                   path.begin() + static_cast<ptrdiff_t>(prefix + middle));
        // A member with the length and checksum of an earlier one (a file kept twice in a folder) names
        // that member instead of repeating them.
        const auto same = contents.find({member.length, member.checksum});
        if (same != contents.end()) {
            put_varint(out, 0);
            put_varint(out, i - same->second);
        } else {
            put_varint(out, member.length + 1);
        }
        if (new_time) put_varint(out, zigzag(member.mtime_ns, previous_time));
        if (new_permissions) put_varint(out, member.permissions);
        if (same == contents.end()) put_le(out, member.checksum, 8);
        contents[{member.length, member.checksum}] = i;
        previous = path;
        previous_time = member.mtime_ns;
        previous_permissions = member.permissions;
    }
    return record;
}

namespace {

const char kDoesNotHoldTogether[] = "the manifest does not hold together";

// The first manifest: paths front-coded, every field written out.
bool parse_plain_manifest(const uint8_t* payload, size_t size, std::vector<BundleMember>& members,
                          std::string& error) {
    PayloadReader in{payload, size};
    const uint64_t count = in.varint();
    // Every member takes at least 12 bytes (five numbers, its checksum): a count beyond that is a lie.
    if (!in.ok || count > size / 12) {
        error = "the manifest counts more members than it holds";
        return false;
    }
    members.reserve(static_cast<size_t>(count));
    int64_t previous_time = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t shared = in.varint();
        const uint64_t rest = in.varint();
        const std::string* previous = members.empty() ? nullptr : &members.back().path;
        if (!in.ok || shared > (previous ? previous->size() : 0) || rest > size - in.at ||
            shared + rest == 0 || shared + rest > kManifestMaxPath) {
            error = in.ok && shared + rest == 0 ? "the manifest holds a member without a path"
                                                : kDoesNotHoldTogether;
            return false;
        }
        BundleMember member;
        if (previous) member.path.assign(*previous, 0, static_cast<size_t>(shared));
        member.path.append(reinterpret_cast<const char*>(payload + in.at), static_cast<size_t>(rest));
        in.at += static_cast<size_t>(rest);
        member.length = in.varint();
        member.mtime_ns = unzigzag(in.varint(), previous_time);
        const uint64_t permissions = in.varint();
        member.checksum = in.le64();
        if (!in.ok || permissions > 07777 || member.length > kManifestMaxLength) {
            error = kDoesNotHoldTogether;
            return false;
        }
        member.permissions = static_cast<uint16_t>(permissions);
        previous_time = member.mtime_ns;
        members.push_back(std::move(member));
    }
    if (in.at != size) {
        error = "the manifest has bytes after its last member";
        return false;
    }
    return true;
}

// The compact manifest: a path is what it shares with the previous one at both ends and the bytes
// between, a time or permissions equal to the previous member's are left out, and a member with the
// content of an earlier one names it.
bool parse_compact_manifest(const uint8_t* payload, size_t size, std::vector<BundleMember>& members,
                            std::string& error) {
    PayloadReader in{payload, size};
    const uint64_t count = in.varint();
    if (!in.ok || count > size / kCompactMemberMinimum) {
        error = "the manifest counts more members than it holds";
        return false;
    }
    members.reserve(static_cast<size_t>(count));
    std::string previous;
    int64_t previous_time = 0;
    uint64_t previous_permissions = kManifestUsualPermissions;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t head = in.byte();
        uint64_t prefix = head >> 2;
        if (prefix == kPrefixEscape) prefix += in.varint();
        const uint8_t tail = in.byte();
        uint64_t suffix = tail & 7u, middle = tail >> 3;
        if (suffix == kSuffixEscape) suffix += in.varint();
        if (middle == kMiddleEscape) middle += in.varint();
        // Sums of two 64-bit numbers could wrap: each is held to the previous path's size first.
        if (!in.ok || prefix > previous.size() || suffix > previous.size() - prefix ||
            middle > size - in.at || prefix + suffix + middle > kManifestMaxPath) {
            error = kDoesNotHoldTogether;
            return false;
        }
        if (prefix + suffix + middle == 0) {
            error = "the manifest holds a member without a path";
            return false;
        }
        BundleMember member;
        member.path.assign(previous, 0, static_cast<size_t>(prefix));
        member.path.append(reinterpret_cast<const char*>(payload + in.at), static_cast<size_t>(middle));
        member.path.append(previous, previous.size() - static_cast<size_t>(suffix),
                           static_cast<size_t>(suffix));
        in.at += static_cast<size_t>(middle);
        const uint64_t content = in.varint();
        uint64_t distance = 0;
        if (content == 0) {
            distance = in.varint();
            if (in.ok && (distance == 0 || distance > members.size())) in.ok = false;
        }
        member.mtime_ns = (head & 1) ? unzigzag(in.varint(), previous_time) : previous_time;
        const uint64_t permissions = (head & 2) ? in.varint() : previous_permissions;
        if (content == 0) {
            if (in.ok) {
                const BundleMember& earlier = members[members.size() - static_cast<size_t>(distance)];
                member.length = earlier.length;
                member.checksum = earlier.checksum;
            }
        } else {
            member.length = content - 1;
            member.checksum = in.le64();
        }
        if (!in.ok || permissions > 07777 || member.length > kManifestMaxLength) {
            error = kDoesNotHoldTogether;
            return false;
        }
        member.permissions = static_cast<uint16_t>(permissions);
        previous = member.path;
        previous_time = member.mtime_ns;
        previous_permissions = permissions;
        members.push_back(std::move(member));
    }
    if (in.at != size) {
        error = "the manifest has bytes after its last member";
        return false;
    }
    return true;
}

} // namespace

bool parse_manifest(uint8_t type, const uint8_t* payload, size_t size, std::vector<BundleMember>& members,
                    std::string& error) {
    members.clear();
    if (type == kRecordManifest) return parse_plain_manifest(payload, size, members, error);
    if (type == kRecordCompactManifest) return parse_compact_manifest(payload, size, members, error);
    error = "not a manifest";
    return false;
}

int find_manifest(const ExtensionFrame& frame, std::vector<BundleMember>& members, std::string& error) {
    for (const ExtensionRecord& record : frame.records)
        if (record.type == kRecordManifest || record.type == kRecordCompactManifest)
            return parse_manifest(record.type, record.payload.data(), record.payload.size(), members, error)
                       ? 1
                       : -1;
    return 0;
}

std::string path_refusal(const std::string& path) {
    if (path.empty()) return "is empty";
    if (path.size() > kManifestMaxPath) return "is longer than 4096 bytes";
    if (path.find('\0') != std::string::npos) return "holds a NUL byte";
    if (path.find('\\') != std::string::npos) return "holds a backslash";
    if (!valid_utf8(path)) return "is not valid UTF-8";
    if (path[0] == '/') return "is absolute";
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
        return "starts with a drive letter";
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string refusal = component_refusal(path.substr(start, slash - start));
        if (!refusal.empty()) return refusal;
        if (slash == std::string::npos) return "";
        start = slash + 1;
    }
}

std::string manifest_refusal(const std::vector<BundleMember>& members, uint64_t restored_length) {
    uint64_t total = 0;
    std::set<std::string> paths;
    for (const BundleMember& member : members) {
        const std::string refusal = path_refusal(member.path);
        if (!refusal.empty()) return "member path " + shown(member.path) + " " + refusal;
        if (!paths.insert(member.path).second) return "member path " + shown(member.path) + " appears twice";
        if (member.length > restored_length - total)
            return "the members' lengths do not add up to the restored length";
        total += member.length;
    }
    if (total != restored_length) return "the members' lengths do not add up to the restored length";
    // A member that another one's path passes through would be both a file and a directory. In sorted
    // order such a prefix comes before the paths under it, though not always right before them
    // ("a", "a.b", "a/c"): each path looks up its every directory.
    for (const std::string& path : paths)
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
            if (paths.count(path.substr(0, slash)))
                return "member path " + shown(path) + " passes through member " +
                       shown(path.substr(0, slash));
    return "";
}
