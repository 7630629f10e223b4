#pragma once

// The files that go into a bundle, as talvo-pack finds them, and their bytes joined in the order they
// are packed.

#include "archive/bundle_manifest.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct BundleInput {
    std::string file; // as the system finds it
    BundleMember member;
    // The bytes of a member that cannot be read again (a pipe, a device), kept from its first reading.
    std::shared_ptr<const std::vector<uint8_t>> held;
};

// The members in `order`, concatenated up to `limit` bytes, each read again (or taken from `held`) as
// it is appended. A member that no longer has the length and checksum noted for it has changed since
// it was listed, and its manifest entry would not restore it: false, with "FILE: changed while it was
// being packed" (or why it could not be read).
bool join_members(const std::vector<BundleInput>& inputs, const std::vector<size_t>& order, size_t limit,
                  std::vector<uint8_t>& bytes, std::string& error);
