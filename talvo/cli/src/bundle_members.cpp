#include "cli/bundle_members.h"

#include "cli/interrupt.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

bool read_at(FILE* file, uint64_t offset, uint8_t* bytes, size_t n) {
#ifdef _WIN32
    if (_fseeki64(file, static_cast<int64_t>(offset), SEEK_SET) != 0) return false;
#else
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
#endif
    return std::fread(bytes, 1, n, file) == n;
}

std::string member_name(const MemberSplitter& splitter) {
    return join_path(splitter.root, (*splitter.members)[splitter.next].path);
}

bool stop(MemberSplitter& splitter, const std::string& why) {
    splitter.error = why;
    splitter.failed = splitter.next;
    splitter_abandon(splitter);
    return false;
}

std::string folded(std::string path) {
    for (char& c : path)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return path;
}

// Why the next member may not be written where an earlier member of this run already was: its path
// differs from that member's only in case, and the file system took both for one file. Never one
// member silently replacing another, -f or not.
std::string same_file_refusal(const MemberSplitter& splitter) {
    const std::string& path = (*splitter.members)[splitter.next].path;
    const auto earlier = splitter.written.find(folded(path));
    if (earlier == splitter.written.end()) return "";
    const std::string& other = (*splitter.members)[earlier->second].path;
    if (!same_file(member_name(splitter), join_path(splitter.root, other))) return "";
    return "would replace member " + other + ", restored in this run: the file system does not tell their " +
           "names apart (they differ only in case)";
}

// Opens the next member for its bytes.
bool open_member(MemberSplitter& splitter) {
    hasher_reset(splitter.hasher);
    splitter.filled = 0;
    if (!splitter.write) {
        splitter.open = true;
        return true;
    }
    const std::string& path = (*splitter.members)[splitter.next].path;
    std::string error;
    // Looked at again here: an earlier member, or another program, may have changed the tree since.
    std::string refusal = same_file_refusal(splitter);
    if (refusal.empty()) refusal = member_target_refusal(splitter.root, path, splitter.force);
    if (refusal.empty()) make_parent_directories(splitter.root, path, refusal);
    if (!refusal.empty()) return stop(splitter, refusal);
    if (!open_pending_output(member_name(splitter), splitter.pending, error)) return stop(splitter, error);
    splitter.open = true;
    return true;
}

// The member is whole: checked, then renamed into place.
bool close_member(MemberSplitter& splitter) {
    const BundleMember& member = (*splitter.members)[splitter.next];
    if (hasher_digest(splitter.hasher) != member.checksum)
        return stop(splitter, "restored bytes do not match its checksum");
    splitter.open = false;
    if (splitter.write) {
        std::string error;
        const FileStamp stamp{member.mtime_ns, member.permissions};
        if (!commit_pending_output(splitter.pending, "", splitter.force, error, false, &stamp)) {
            splitter.error = error;
            splitter.failed = splitter.next;
            return false;
        }
        splitter.written.emplace(folded(member.path), splitter.next);
    }
    ++splitter.next;
    return true;
}

} // namespace

int read_bundle_manifest(const std::string& name, std::vector<BundleMember>& members,
                         uint64_t& restored_length, std::string& error) {
    FILE* file = open_file(name, "rb");
    if (!file) return 0; // the unpack run that follows says why
    const uint64_t size = file_size_or_zero(name);
    int found = 0;
    uint8_t trailer[kExtensionTrailerSize];
    ExtensionTrailer end;
    if (size >= kExtensionTrailerSize &&
        read_at(file, size - kExtensionTrailerSize, trailer, sizeof trailer) &&
        read_extension_trailer(trailer, end) && end.length <= size &&
        end.member_length == size - end.length) { // one archive alone, its frame last
        std::vector<uint8_t> bytes(end.length);
        ExtensionFrame frame;
        ContentDigest digest;
        if (read_at(file, size - end.length, bytes.data(), bytes.size()) &&
            parse_extension(bytes.data(), bytes.size(), frame) && find_content(frame, digest)) {
            found = find_manifest(frame, members, error);
            restored_length = digest.length;
        }
    }
    std::fclose(file);
    return found;
}

MemberSplitter::~MemberSplitter() {
    splitter_abandon(*this);
    hasher_destroy(hasher);
}

bool splitter_start(MemberSplitter& splitter, const std::vector<BundleMember>& members,
                    const std::string& root, bool write, bool force, std::string& error) {
    splitter.members = &members;
    splitter.root = root;
    splitter.write = write;
    splitter.force = force;
    splitter.hasher = hasher_create();
    if (!splitter.hasher) {
        error = "out of memory";
        return false;
    }
    return true;
}

bool splitter_write(MemberSplitter& splitter, const uint8_t* bytes, size_t n) {
    const std::vector<BundleMember>& members = *splitter.members;
    while (n > 0) {
        // Members of length zero are whole as soon as they are reached.
        while (splitter.next < members.size() && !splitter.open) {
            if (!open_member(splitter)) return false;
            if (members[splitter.next].length == 0 && !close_member(splitter)) return false;
        }
        if (splitter.next == members.size()) return stop(splitter, "more bytes than the members' lengths");
        const BundleMember& member = members[splitter.next];
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n, member.length - splitter.filled));
        hasher_update(splitter.hasher, bytes, take);
        if (splitter.write && std::fwrite(bytes, 1, take, splitter.pending.file) != take)
            return stop(splitter, "cannot write " + member_name(splitter) + ": " + errno_text(errno));
        splitter.filled += take;
        bytes += take;
        n -= take;
        if (splitter.filled == member.length && !close_member(splitter)) return false;
    }
    return !interrupted();
}

bool splitter_finish(MemberSplitter& splitter) {
    if (!splitter.error.empty()) return false;
    const std::vector<BundleMember>& members = *splitter.members;
    while (splitter.next < members.size() && members[splitter.next].length == 0 && !splitter.open) {
        if (!open_member(splitter) || !close_member(splitter)) return false;
    }
    if (splitter.next < members.size()) return stop(splitter, "the archive ended before its last bytes");
    return true;
}

void splitter_abandon(MemberSplitter& splitter) {
    if (splitter.open && splitter.write) discard_pending_output(splitter.pending);
    splitter.open = false;
}
