// A bundle's manifest: written and read back, and every way a stranger's manifest could reach outside
// the destination, or describe files that cannot exist, refused.

#include "archive/bundle_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

BundleMember member(const std::string& path, uint64_t length = 1) {
    BundleMember m;
    m.path = path;
    m.length = length;
    return m;
}

TEST(BundleManifest, RoundTripsEveryField) {
    std::vector<BundleMember> written = {member("a.ogg", 12), member("dir/sub/b \xc3\xa9.ogg", 0)};
    written[0].mtime_ns = -1234567890123; // before 1970
    written[0].permissions = 0755;
    written[0].checksum = 0x0123456789abcdefull;
    written[1].mtime_ns = 1700000000123456789;
    written[1].permissions = 04644;
    const ExtensionRecord record = manifest_record(written);
    EXPECT_EQ(record.type, kRecordManifest);
    std::vector<BundleMember> read;
    std::string error;
    ASSERT_TRUE(parse_manifest(record.payload.data(), record.payload.size(), read, error)) << error;
    ASSERT_EQ(read.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(read[i].path, written[i].path);
        EXPECT_EQ(read[i].length, written[i].length);
        EXPECT_EQ(read[i].mtime_ns, written[i].mtime_ns);
        EXPECT_EQ(read[i].permissions, written[i].permissions);
        EXPECT_EQ(read[i].checksum, written[i].checksum);
    }
    // Found in a frame among other records.
    ExtensionFrame frame;
    const std::vector<uint8_t> bytes = make_extension(100, {content_record({12, 7}), record});
    ASSERT_TRUE(parse_extension(bytes.data(), bytes.size(), frame));
    EXPECT_EQ(find_manifest(frame, read, error), 1);
    EXPECT_EQ(read.size(), 2u);
    frame.records.resize(1);
    EXPECT_EQ(find_manifest(frame, read, error), 0);
}

TEST(BundleManifest, AFolderCostsLittleMoreThanItsChecksums) {
    std::vector<BundleMember> folder;
    for (int i = 0; i < 100; ++i) {
        folder.push_back(
            member("share/sounds/theme/stereo/effect-" + std::to_string(1000 + i) + ".oga", 20000));
        folder.back().mtime_ns = 1600000000000000000 + (i % 2) * 1000000000; // to and fro by a second
        folder.back().permissions = 0644;
    }
    const ExtensionRecord record = manifest_record(folder);
    EXPECT_LE(record.payload.size(), 1 + 100 * 26u); // against 28 + 40 written plainly
    std::vector<BundleMember> read;
    std::string error;
    ASSERT_TRUE(parse_manifest(record.payload.data(), record.payload.size(), read, error)) << error;
    ASSERT_EQ(read.size(), folder.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].path, folder[i].path);
        EXPECT_EQ(read[i].mtime_ns, folder[i].mtime_ns);
    }
}

TEST(BundleManifest, PayloadsThatDoNotHoldTogetherAreRefused) {
    const std::vector<uint8_t> good = manifest_record({member("a", 1), member("b", 2)}).payload;
    std::vector<BundleMember> read;
    std::string error;
    for (size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(parse_manifest(good.data(), cut, read, error)) << "cut to " << cut;
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(parse_manifest(longer.data(), longer.size(), read, error));
    std::vector<uint8_t> huge_count = good;
    huge_count[0] = 0x7f; // a count no payload of this size can hold: refused before anything is reserved
    EXPECT_FALSE(parse_manifest(huge_count.data(), huge_count.size(), read, error));
    std::vector<uint8_t> no_path = manifest_record({member("a", 1)}).payload;
    no_path[2] = 0; // path length 0, the path byte then read as the next field
    EXPECT_FALSE(parse_manifest(no_path.data(), no_path.size(), read, error));
    std::vector<uint8_t> overlong = manifest_record({member("a", 1)}).payload;
    overlong[0] = 0x81; // the count 1 written in two bytes
    overlong.insert(overlong.begin() + 1, 0x00);
    EXPECT_FALSE(parse_manifest(overlong.data(), overlong.size(), read, error));
    std::vector<uint8_t> shares_too_much = manifest_record({member("a", 1), member("b", 1)}).payload;
    shares_too_much[15] = 2; // the second path shares two bytes of a one-byte path
    EXPECT_FALSE(parse_manifest(shares_too_much.data(), shares_too_much.size(), read, error));
}

struct HostilePath {
    std::string path;
    const char* why; // a word of the refusal
};

TEST(BundleManifest, HostilePathsAreRefused) {
    const std::vector<HostilePath> cases = {
        {"", "empty"},
        {"/etc/passwd", "absolute"},
        {"C:/Windows/win.ini", "drive letter"},
        {"c:relative", "drive letter"},
        {"../up.ogg", "\"..\""},
        {"a/../../up.ogg", "\"..\""},
        {"a/..", "\"..\""},
        {"./a.ogg", "\".\""},
        {"a//b.ogg", "empty component"},
        {"a/", "empty component"},
        {"a\\..\\b.ogg", "backslash"},
        {std::string("a\0b.ogg", 7), "NUL"},
        {"a\nb.ogg", "control character"},
        {"what?.ogg", "Windows refuses"},
        {"ab:c.ogg", "Windows refuses"},
        {"a|b", "Windows refuses"},
        {"dir/CON", "device"},
        {"dir/nul.txt", "device"},
        {"com1.ogg", "device"},
        {"LPT9", "device"},
        {"trailing.", "dot or a space"},
        {"trailing /x", "dot or a space"},
        {"bad\xc3.ogg", "UTF-8"},
        {"overlong\xc0\xaf.ogg", "UTF-8"},
        {"surrogate\xed\xa0\x80.ogg", "UTF-8"},
        {std::string(256, 'x'), "255"},
        {std::string(4097, 'x'), "4096"},
    };
    for (const HostilePath& c : cases) {
        const std::string refusal = path_refusal(c.path);
        EXPECT_NE(refusal.find(c.why), std::string::npos) << "\"" << c.path << "\": " << refusal;
        // The whole manifest is refused for it too, with the path shown printable.
        const std::string whole = manifest_refusal({member("fine.ogg"), member(c.path)}, 2);
        EXPECT_NE(whole.find(refusal), std::string::npos) << whole;
        EXPECT_EQ(whole.find('\0'), std::string::npos);
    }
    for (const char* fine : {"a.ogg", "music/level 1/theme.ogg", "COM10", "CONSOLE.ogg", ".hidden", "a..b",
                             "\xe6\x97\xa5\xe6\x9c\xac.ogg", "\xf0\x9f\x8e\xb5.ogg"})
        EXPECT_EQ(path_refusal(fine), "") << fine;
}

TEST(BundleManifest, ManifestsThatCannotBeRestoredAreRefused) {
    struct Case {
        std::vector<BundleMember> members;
        uint64_t restored;
        const char* why;
    };
    const std::vector<Case> cases = {
        {{member("a", 1), member("a", 1)}, 2, "twice"},
        {{member("a", 1), member("a/b", 1)}, 2, "passes through"},
        {{member("a/b/c", 1), member("a.b", 1), member("a/b", 1)}, 3, "passes through"},
        {{member("a", 1), member("b", 1)}, 3, "add up"},
        {{member("a", 2), member("b", 2)}, 3, "add up"},
        {{member("a", ~uint64_t{0}), member("b", 2)}, 1, "add up"}, // no wrap-around makes it fit
        {{}, 1, "add up"},
    };
    for (const Case& c : cases) {
        const std::string refusal = manifest_refusal(c.members, c.restored);
        EXPECT_NE(refusal.find(c.why), std::string::npos) << refusal;
    }
    EXPECT_EQ(manifest_refusal({member("a", 0), member("a.b/c", 3), member("ab", 2)}, 5), "");
    EXPECT_EQ(manifest_refusal({}, 0), "");
}

} // namespace
