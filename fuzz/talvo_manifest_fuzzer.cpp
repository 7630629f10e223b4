// A bundle's manifest as a stranger could write it, of either record type (the first byte picks it).
// Whatever the bytes, reading them must end without touching memory it does not own; a manifest that
// is taken apart must write back to one that reads as the same members;
// and a manifest that is accepted for restoring must name no path that could leave the destination.

#include "archive/bundle_manifest.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool leaves_destination(const std::string& path) {
    if (path.empty() || path[0] == '/' || path.back() == '/') return true;
    if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) return true;
    if (path.find(':') != std::string::npos || path.find("//") != std::string::npos) return true;
    const std::string walled = "/" + path + "/";
    return walled.find("/../") != std::string::npos || walled.find("/./") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t type = (data[0] & 1) ? kRecordCompactManifest : kRecordManifest;
    std::vector<BundleMember> members;
    std::string error;
    if (!parse_manifest(type, data + 1, size - 1, members, error)) return 0;
    const ExtensionRecord again = manifest_record(members);
    std::vector<BundleMember> reread;
    if (!parse_manifest(again.type, again.payload.data(), again.payload.size(), reread, error) ||
        reread.size() != members.size())
        std::abort();
    for (size_t i = 0; i < members.size(); ++i)
        if (reread[i].path != members[i].path || reread[i].length != members[i].length ||
            reread[i].mtime_ns != members[i].mtime_ns || reread[i].permissions != members[i].permissions ||
            reread[i].checksum != members[i].checksum)
            std::abort();
    uint64_t total = 0;
    for (const BundleMember& member : members)
        total += member.length;
    if (!manifest_refusal(members, total).empty()) return 0;
    for (const BundleMember& member : members)
        if (leaves_destination(member.path)) std::abort();
    return 0;
}
