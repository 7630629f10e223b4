// The packer on several workers: its settings trials run on the pool, and the archive must not depend
// on how many workers there are, nor on which trials ran speculatively. The in-memory verification
// must start no thread of its own beside the pool's.

#include "pack/packer.h"
#include "scratch_dir.h"
#include "test_data.h"
#include "unpack/unpacker.h"
#include "workers/worker_pool.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct LimitGuard {
    ~LimitGuard() { set_worker_limit(0); }
};

// Files with several streams (every settings trial counts there) and with one.
std::vector<ArchivePair> sample_pairs() {
    std::vector<ArchivePair> pairs;
    const auto dir = test_data_dir("packer-archives");
    for (const char* name : {"chained", "cut"})
        pairs.push_back({name, dir / (std::string(name) + ".ogg"), dir / (std::string(name) + ".talvo")});
    const auto conformance = test_data_dir("conformance");
    for (const char* name : {"native-encoder", "surround-q4"})
        pairs.push_back(
            {name, conformance / (std::string(name) + ".ogg"), dir / (std::string(name) + ".talvo")});
    return pairs;
}

TEST(PackerWorkers, EveryWorkerCountGivesTheCommittedArchive) {
    LimitGuard guard;
    PackOptions defaults;
    defaults.choose_settings = true;
    for (const ArchivePair& pair : sample_pairs()) {
        SCOPED_TRACE(pair.name);
        const std::vector<uint8_t> ogg = read_data_file(pair.ogg);
        const std::vector<uint8_t> expected = read_data_file(pair.archive);
        ASSERT_FALSE(ogg.empty());
        ASSERT_FALSE(expected.empty());
        for (int workers : {1, 2, 3, 8}) {
            SCOPED_TRACE(workers);
            set_worker_limit(workers);
            const PackResult result = pack_file(ogg.data(), ogg.size(), defaults);
            ASSERT_EQ(result.status, PackStatus::Ok);
            EXPECT_EQ(first_mismatch(result.archive, expected), SIZE_MAX) << "first difference at this byte";
        }
    }
}

// A spooled archive is verified beside its pass when a second worker is free and the items' file can be
// read again: the verification then proves the archive the pass wrote, which is the one made without
// it. Items read from elsewhere (other bytes) prove nothing, and the verification after the pass keeps
// the archive as it is.
TEST(PackerWorkers, TheVerificationBesideThePassProvesOnlyTheArchiveWritten) {
    LimitGuard guard;
    const ScratchDir scratch("verify_beside");
    // Vorbis streams of several encoders, with bytes of no stream between them; then the same after a
    // stream whose modelled form is larger than it is (with fresh statistics), which sends the file
    // through a second pass.
    std::vector<uint8_t> input;
    for (const ArchivePair& pair : sample_pairs()) {
        const std::vector<uint8_t> ogg = read_data_file(pair.ogg);
        input.insert(input.end(), ogg.begin(), ogg.end());
        input.insert(input.end(), 3000, static_cast<uint8_t>(input.size()));
    }
    std::vector<uint8_t> with_larger = read_data_file(test_data_dir("conformance") / "music-q8.ogg");
    ASSERT_FALSE(with_larger.empty());
    with_larger.insert(with_larger.end(), input.begin(), input.end());
    PackOptions options;
    options.flags = 0x09; // 32 slots, statistics carried over, as a bundle is packed
    options.checksum = true;
    std::filesystem::create_directories(scratch.path());
    const std::string items_name = scratch.file("items");
    const std::string other_name = scratch.file("other");
    {
        FILE* other = std::fopen(other_name.c_str(), "wb");
        ASSERT_TRUE(other);
        const std::vector<uint8_t> garbage(with_larger.size(), 0x5A);
        std::fwrite(garbage.data(), 1, garbage.size(), other);
        std::fclose(other);
    }
    struct Case {
        const char* what;
        const std::vector<uint8_t>* input;
        int workers;
        bool own_items;
        bool proved;
    };
    for (const Case& c :
         {Case{"beside", &input, 2, true, true}, Case{"one worker", &input, 1, true, false},
          Case{"other items", &input, 2, false, false}, Case{"second pass", &with_larger, 2, true, false}}) {
        SCOPED_TRACE(c.what);
        const PackResult in_memory = pack_file(c.input->data(), c.input->size(), options);
        ASSERT_EQ(in_memory.status, PackStatus::Ok);
        set_worker_limit(c.workers);
        ArchiveSpool spool{std::fopen(items_name.c_str(), "w+b"), std::tmpfile()};
        spool.items_readback = std::fopen(c.own_items ? items_name.c_str() : other_name.c_str(), "rb");
        ASSERT_TRUE(spool.items && spool.archive && spool.items_readback);
        const PackResult result = pack_file_spooled(c.input->data(), c.input->size(), options, spool);
        EXPECT_EQ(result.status, PackStatus::Ok);
        EXPECT_EQ(result.verified_while_packed, c.proved);
        EXPECT_EQ(result.verify_fallbacks, 0);
        std::vector<uint8_t> archive(static_cast<size_t>(result.archive_size));
        std::rewind(spool.archive);
        EXPECT_EQ(std::fread(archive.data(), 1, archive.size(), spool.archive), archive.size());
        EXPECT_EQ(first_mismatch(archive, in_memory.archive), SIZE_MAX) << "first difference at this byte";
        for (FILE* file : {spool.items, spool.items_readback, spool.archive})
            std::fclose(file);
    }
}

// Two files packed at once, each searching its settings on the same pool, as talvo-pack does with
// several inputs: nested calls share the limit and still give the same archives.
TEST(PackerWorkers, NestedSearchesGiveTheSameArchives) {
    LimitGuard guard;
    set_worker_limit(3);
    const auto pairs = sample_pairs();
    std::vector<std::vector<uint8_t>> inputs, expected;
    for (const ArchivePair& pair : pairs) {
        inputs.push_back(read_data_file(pair.ogg));
        expected.push_back(read_data_file(pair.archive));
    }
    std::vector<std::vector<uint8_t>> archives(pairs.size());
    PackOptions defaults;
    defaults.choose_settings = true;
    run_tasks(pairs.size(), [&](size_t t, int) {
        archives[t] = pack_file(inputs[t].data(), inputs[t].size(), defaults).archive;
    });
    for (size_t t = 0; t < pairs.size(); ++t)
        EXPECT_EQ(first_mismatch(archives[t], expected[t]), SIZE_MAX) << pairs[t].name;
}

#ifdef __linux__
size_t threads_of_process() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

// An in-memory unpack (what the verification runs on a worker) reads its archive on the calling
// thread: while it writes, the process has no thread it did not have before.
TEST(PackerWorkers, InMemoryUnpackStartsNoThread) {
    const auto dir = test_data_dir("packer-archives");
    const std::vector<uint8_t> archive = read_data_file(dir / "chained.talvo");
    ASSERT_FALSE(archive.empty());
    struct Watch {
        std::vector<uint8_t> bytes;
        size_t most_threads = 0;
    } watch;
    const OutputSink sink{&watch, [](void* context, const uint8_t* bytes, size_t n) {
                              auto* w = static_cast<Watch*>(context);
                              w->most_threads = std::max(w->most_threads, threads_of_process());
                              w->bytes.insert(w->bytes.end(), bytes, bytes + n);
                              return true;
                          }};
    // Counted against the threads already there (a sanitizer's runtime may have one of its own).
    const size_t before = threads_of_process();
    EXPECT_EQ(unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, sink), UnpackStatus::Ok);
    EXPECT_EQ(watch.bytes, read_data_file(dir / "chained.ogg"));
    EXPECT_EQ(watch.most_threads, before);
}
#endif

} // namespace
