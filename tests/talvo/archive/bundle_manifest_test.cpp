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
    m.permissions = kManifestUsualPermissions;
    return m;
}

void put_varint(std::vector<uint8_t>& out, uint64_t value) {
    for (; value >= 0x80; value >>= 7)
        out.push_back(static_cast<uint8_t>(value | 0x80));
    out.push_back(static_cast<uint8_t>(value));
}

// A plain (type 2) manifest as the first bundles carry it, written field by field from its layout.
std::vector<uint8_t> plain_payload(const std::vector<BundleMember>& members) {
    std::vector<uint8_t> out;
    put_varint(out, members.size());
    std::string previous;
    int64_t previous_time = 0;
    for (const BundleMember& m : members) {
        size_t shared = 0;
        while (shared < previous.size() && shared < m.path.size() && previous[shared] == m.path[shared])
            ++shared;
        put_varint(out, shared);
        put_varint(out, m.path.size() - shared);
        out.insert(out.end(), m.path.begin() + static_cast<ptrdiff_t>(shared), m.path.end());
        put_varint(out, m.length);
        const int64_t step = m.mtime_ns - previous_time;
        put_varint(out, static_cast<uint64_t>(step) << 1 ^ static_cast<uint64_t>(step >> 63));
        put_varint(out, m.permissions);
        for (int i = 0; i < 8; ++i)
            out.push_back(static_cast<uint8_t>(m.checksum >> (8 * i)));
        previous = m.path;
        previous_time = m.mtime_ns;
    }
    return out;
}

void expect_same_members(const std::vector<BundleMember>& read, const std::vector<BundleMember>& written) {
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].path, written[i].path) << i;
        EXPECT_EQ(read[i].length, written[i].length) << i;
        EXPECT_EQ(read[i].mtime_ns, written[i].mtime_ns) << i;
        EXPECT_EQ(read[i].permissions, written[i].permissions) << i;
        EXPECT_EQ(read[i].checksum, written[i].checksum) << i;
    }
}

TEST(BundleManifest, RoundTripsEveryField) {
    const std::string deep = "music/" + std::string(70, 'd') + "/";
    std::string elsewhere = deep;
    elsewhere[0] = 'y';
    std::vector<BundleMember> written = {
        member("a.ogg", 12),
        member("dir/sub/b \xc3\xa9.ogg", 0),
        member("dir/sub/c \xc3\xa9.ogg", 5),                               // only the middle differs
        member(deep + "track-01-" + std::string(40, 'n') + ".oga", 70000), // a middle over 30 bytes
        member(deep + "track-02-" + std::string(40, 'n') + ".oga", 1),     // prefix over 62, suffix over 6
        member(deep + "x", 2),                                             // the previous path's start alone
        member(elsewhere + "x", 3),                                        // its end alone
        member("copy-of-dir-sub-b", 0),                                    // the content of member 1
        member("copy-of-a", 12),                                           // ... and of member 0
    };
    written[0].mtime_ns = -1234567890123; // before 1970
    written[0].permissions = 0755;
    written[0].checksum = 0x0123456789abcdefull;
    written[1].mtime_ns = 1700000000123456789;
    written[1].permissions = 04644;
    written[2].mtime_ns = written[1].mtime_ns; // time and permissions as before: left out
    written[2].permissions = written[1].permissions;
    written[3].mtime_ns = written[1].mtime_ns - 1;
    for (size_t i = 3; i < written.size(); ++i)
        written[i].checksum = 0xfedcba9876543210ull + i;
    written[written.size() - 2].checksum = written[1].checksum;
    written.back().checksum = written[0].checksum;
    const ExtensionRecord record = manifest_record(written);
    EXPECT_EQ(record.type, kRecordCompactManifest);
    std::vector<BundleMember> unlike = written;
    unlike.back().checksum ^= 1; // the same length, other content: written out whole
    EXPECT_EQ(manifest_record(unlike).payload.size(), record.payload.size() + 8 - 1);
    std::vector<BundleMember> read;
    std::string error;
    ASSERT_TRUE(parse_manifest(record.type, record.payload.data(), record.payload.size(), read, error))
        << error;
    expect_same_members(read, written);
    // The plain manifest of the first bundles still reads.
    const std::vector<uint8_t> plain = plain_payload(written);
    ASSERT_TRUE(parse_manifest(kRecordManifest, plain.data(), plain.size(), read, error)) << error;
    expect_same_members(read, written);
    // Found in a frame among other records, of either type.
    for (const ExtensionRecord& manifest : {record, ExtensionRecord{kRecordManifest, plain}}) {
        ExtensionFrame frame;
        const std::vector<uint8_t> bytes =
            make_extension(100, {content_record({12, 7}), ExtensionRecord{9, {1, 2}}, manifest});
        ASSERT_TRUE(parse_extension(bytes.data(), bytes.size(), frame));
        EXPECT_EQ(find_manifest(frame, read, error), 1);
        expect_same_members(read, written);
        frame.records.resize(2);
        EXPECT_EQ(find_manifest(frame, read, error), 0);
    }
}

// The layout is a stored format: the bytes written for a known folder stay these.
TEST(BundleManifest, TheCompactLayoutIsStable) {
    std::vector<BundleMember> folder = {member("sfx/a.oga", 2000), member("sfx/b.oga", 500),
                                        member("sfx/c.oga", 2000)};
    folder[0].mtime_ns = 1700000000000000000;
    folder[1].mtime_ns = 1700000001000000000;
    folder[2].mtime_ns = folder[1].mtime_ns; // and a's content
    folder[1].checksum = 0x0807060504030201ull;
    const std::vector<uint8_t> expected = {
        0x03,                                                           // count
        0x01, 0x48, 's',  'f',  'x',  '/',  'a',  '.',  'o',  'g', 'a', // time follows, P 0; M 9, S 0
        0xd1, 0x0f,                                                     // length 2,000 (plus one)
        0x80, 0x80, 0xd0, 0xe2, 0xc6, 0xbf, 0xce, 0x97, 0x2f,           // time
        0,    0,    0,    0,    0,    0,    0,    0,                    // checksum
        0x11, 0x0c, 'b',                                                // time follows, P 4; M 1, S 4
        0xf5, 0x03,                                                     // length 500 (plus one)
        0x80, 0xa8, 0xd6, 0xb9, 0x07,                                   // one second later
        1,    2,    3,    4,    5,    6,    7,    8,                    // checksum
        0x10, 0x0c, 'c',                                                // P 4; M 1, S 4
        0,    2, // the content of the member two places before
    };
    EXPECT_EQ(manifest_record(folder).payload, expected);
}

TEST(BundleManifest, AFolderCostsLittleMoreThanItsChecksums) {
    std::vector<BundleMember> folder;
    for (int i = 0; i < 100; ++i) {
        folder.push_back(
            member("share/sounds/theme/stereo/effect-" + std::to_string(1000 + i) + ".oga", 20000));
        folder.back().mtime_ns = 1600000000000000000;
    }
    ExtensionRecord record = manifest_record(folder);
    // Head and tail bytes, a letter or two, a three-byte length and the checksum; the first member more.
    EXPECT_LE(record.payload.size(), 1 + 100 * 15u + 50); // against 28 + 40 written plainly
    for (size_t i = 0; i < folder.size(); ++i)
        folder[i].mtime_ns += (i % 2) * 1000000000; // to and fro by a second: five bytes more each
    record = manifest_record(folder);
    EXPECT_LE(record.payload.size(), 1 + 100 * 20u + 50);
    std::vector<BundleMember> read;
    std::string error;
    ASSERT_TRUE(parse_manifest(record.type, record.payload.data(), record.payload.size(), read, error))
        << error;
    expect_same_members(read, folder);
}

TEST(BundleManifest, PayloadsThatDoNotHoldTogetherAreRefused) {
    std::vector<BundleMember> read;
    std::string error;
    const std::vector<BundleMember> two = {member("a", 1), member("b", 2)};
    for (const ExtensionRecord& good :
         {manifest_record(two), ExtensionRecord{kRecordManifest, plain_payload(two)}}) {
        const std::vector<uint8_t>& bytes = good.payload;
        for (size_t cut = 0; cut < bytes.size(); ++cut)
            EXPECT_FALSE(parse_manifest(good.type, bytes.data(), cut, read, error)) << "cut to " << cut;
        std::vector<uint8_t> longer = bytes;
        longer.push_back(0);
        EXPECT_FALSE(parse_manifest(good.type, longer.data(), longer.size(), read, error));
        std::vector<uint8_t> huge_count = bytes;
        huge_count[0] = 0x7f; // a count no payload of this size can hold: refused before anything is reserved
        EXPECT_FALSE(parse_manifest(good.type, huge_count.data(), huge_count.size(), read, error));
        std::vector<uint8_t> overlong = bytes;
        overlong[0] = 0x82; // the count 2 written in two bytes
        overlong.insert(overlong.begin() + 1, 0x00);
        EXPECT_FALSE(parse_manifest(good.type, overlong.data(), overlong.size(), read, error));
        EXPECT_FALSE(parse_manifest(7, bytes.data(), bytes.size(), read, error));
    }
    struct Forged {
        uint8_t type;
        std::vector<uint8_t> payload;
        const char* why;
    };
    const uint8_t sum[8] = {};
    auto with_sum = [&](std::vector<uint8_t> bytes) {
        bytes.insert(bytes.end(), sum, sum + 8);
        return bytes;
    };
    std::vector<uint8_t> shares_too_much = plain_payload(two);
    shares_too_much[16] = 2; // the second path shares two bytes of a one-byte path
    // "ab", then a path that takes a prefix and a suffix of three bytes between them from it.
    std::vector<uint8_t> two_members = with_sum({2, 0, 2 << 3, 'a', 'b', 1});
    const std::vector<uint8_t> second = with_sum({1 << 2, 1 << 3 | 2, 'c', 1});
    two_members.insert(two_members.end(), second.begin(), second.end());
    // "a", then "b" with the content of the member zero places before it.
    std::vector<uint8_t> repeats_itself = with_sum({2, 0, 1 << 3, 'a', 1});
    repeats_itself.insert(repeats_itself.end(), {0, 1 << 3, 'b', 0, 0});
    const std::vector<Forged> forged = {
        {kRecordManifest, with_sum({1, 0, 0, 1, 0, 0x80}), "without a path"},
        {kRecordManifest, shares_too_much, "hold together"},
        // compact: count, head (flags, prefix), tail (middle << 3 | suffix), middle, length, ...
        {kRecordCompactManifest, with_sum({1, 0, 0, 1}), "without a path"},
        {kRecordCompactManifest, with_sum({1, 1 << 2, 1 << 3, 'a', 1}), "hold together"}, // prefix of nothing
        {kRecordCompactManifest, with_sum({1, 0, 1, 1}), "hold together"},                // suffix of nothing
        {kRecordCompactManifest, two_members, "hold together"},
        {kRecordCompactManifest, with_sum({1, 2, 1 << 3, 'a', 1, 0x80, 0x20}),
         "hold together"},                                                            // mode 0o10000
        {kRecordCompactManifest, with_sum({1, 0, 31 << 3, 'a', 1}), "hold together"}, // escape without varint
        {kRecordCompactManifest, with_sum({1, 0, 31 << 3, 0x80, 0x20}),
         "hold together"}, // 4127 bytes of path
        {kRecordCompactManifest,
         {1, 0, 1 << 3, 'a', 0, 1},
         "hold together"}, // the content of no earlier member
        {kRecordCompactManifest, repeats_itself, "hold together"},
        {kRecordCompactManifest,
         with_sum({1, 0, 1 << 3, 'a', 0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}),
         "hold together"}, // a length of 2^63 + 1
    };
    for (size_t i = 0; i < forged.size(); ++i) {
        const Forged& f = forged[i];
        EXPECT_FALSE(parse_manifest(f.type, f.payload.data(), f.payload.size(), read, error)) << i;
        EXPECT_NE(error.find(f.why), std::string::npos) << i << ": " << error;
    }
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
