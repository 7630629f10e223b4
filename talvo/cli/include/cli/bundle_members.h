#pragma once

// A bundle's restored bytes cut into its members as they come: each member written under a temporary
// name beside its path and renamed into place once all its bytes are there and match its checksum, so
// the members before a failure are whole and the one that failed never appears.

#include "archive/archive_extension.h"
#include "archive/bundle_manifest.h"
#include "cli/file_system.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The manifest of the archive file `name`, read from the file's end: 1 a bundle (members and the
// restored length filled in), 0 an archive without one (or several archives one after another), -1 a
// manifest that does not hold together (with why).
int read_bundle_manifest(const std::string& name, std::vector<BundleMember>& members,
                         uint64_t& restored_length, std::string& error);

struct MemberSplitter {
    const std::vector<BundleMember>* members = nullptr;
    std::string root;   // where the members go
    bool write = false; // false: only check each member's checksum
    bool force = false;
    size_t next = 0;     // the member being restored (members->size() once all are done)
    uint64_t filled = 0; // its bytes so far
    ContentHasher* hasher = nullptr;
    PendingOutput pending;
    bool open = false;
    std::string error; // why it stopped
    size_t failed = ~size_t{0};
    // The members written in this run, by their paths with ASCII letters in lower case: where the file
    // system does not tell such names apart, a later member would replace an earlier one.
    std::map<std::string, size_t> written;

    MemberSplitter() = default;
    MemberSplitter(const MemberSplitter&) = delete;
    MemberSplitter& operator=(const MemberSplitter&) = delete;
    ~MemberSplitter();
};

bool splitter_start(MemberSplitter& splitter, const std::vector<BundleMember>& members,
                    const std::string& root, bool write, bool force, std::string& error);
// Takes the next restored bytes; false (with `error` and `failed`) when a member cannot be written or
// does not match its checksum, or the bytes run past the last member.
bool splitter_write(MemberSplitter& splitter, const uint8_t* bytes, size_t n);
// After the last byte: the members of length zero at the end, and whether every member was restored.
// A member left part way is discarded.
bool splitter_finish(MemberSplitter& splitter);
// The member left part way after a failure elsewhere is discarded.
void splitter_abandon(MemberSplitter& splitter);
