#include "archive/bundle_manifest.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace {

constexpr size_t kMemberFixedSize = 2 + 8 + 8 + 2 + 8; // everything but the path

void put_le(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t get_le(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
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
    record.type = kRecordManifest;
    std::vector<uint8_t>& out = record.payload;
    put_le(out, members.size(), 4);
    for (const BundleMember& member : members) {
        put_le(out, member.path.size(), 2);
        out.insert(out.end(), member.path.begin(), member.path.end());
        put_le(out, member.length, 8);
        put_le(out, static_cast<uint64_t>(member.mtime_ns), 8);
        put_le(out, member.permissions, 2);
        put_le(out, member.checksum, 8);
    }
    return record;
}

bool parse_manifest(const uint8_t* payload, size_t size, std::vector<BundleMember>& members,
                    std::string& error) {
    members.clear();
    if (size < 4) {
        error = "the manifest is cut short";
        return false;
    }
    const uint64_t count = get_le(payload, 4);
    // Every member takes at least its fixed fields and one path byte: a count beyond that is a lie.
    if (count > (size - 4) / (kMemberFixedSize + 1)) {
        error = "the manifest counts more members than it holds";
        return false;
    }
    members.reserve(static_cast<size_t>(count));
    size_t at = 4;
    for (uint64_t i = 0; i < count; ++i) {
        if (size - at < kMemberFixedSize) {
            error = "the manifest is cut short";
            return false;
        }
        const auto path_length = static_cast<size_t>(get_le(payload + at, 2));
        if (path_length == 0 || path_length > kManifestMaxPath ||
            size - at - kMemberFixedSize < path_length) {
            error =
                path_length == 0 ? "the manifest holds a member without a path" : "the manifest is cut short";
            return false;
        }
        at += 2;
        BundleMember member;
        member.path.assign(reinterpret_cast<const char*>(payload + at), path_length);
        at += path_length;
        member.length = get_le(payload + at, 8);
        member.mtime_ns = static_cast<int64_t>(get_le(payload + at + 8, 8));
        member.permissions = static_cast<uint16_t>(get_le(payload + at + 16, 2));
        member.checksum = get_le(payload + at + 18, 8);
        at += kMemberFixedSize - 2;
        members.push_back(std::move(member));
    }
    if (at != size) {
        error = "the manifest has bytes after its last member";
        return false;
    }
    return true;
}

int find_manifest(const ExtensionFrame& frame, std::vector<BundleMember>& members, std::string& error) {
    for (const ExtensionRecord& record : frame.records)
        if (record.type == kRecordManifest)
            return parse_manifest(record.payload.data(), record.payload.size(), members, error) ? 1 : -1;
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
