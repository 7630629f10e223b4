// The packer on several workers: its settings trials run on the pool, and the archive must not depend
// on how many workers there are, nor on which trials ran speculatively. The in-memory verification
// must start no thread of its own beside the pool's.

#include "pack/packer.h"
#include "test_data.h"
#include "unpack/unpacker.h"
#include "workers/worker_pool.h"

#include <gtest/gtest.h>

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
