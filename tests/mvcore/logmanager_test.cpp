#include "Marvane/LogManager.h"
#include "support/CountingAllocator.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace Marvane;

namespace {

struct Received {
    int logger;
    char kind; // 'E', 'W' or 'M'
    std::wstring text;
    Error::Enum code;
    const ContextInfo* context;
};

// Appends everything it receives, tagged with its own number, to a shared journal.
class RecordingLogger : public ILogger {
  public:
    RecordingLogger(int number, std::vector<Received>& journal) : m_number(number), m_journal(journal) {}
    // Test loggers derive from this one and live in vectors: their destruction goes through here.
    virtual ~RecordingLogger() = default;
    void LogError(Error::Enum code, const wchar_t* text, const ContextInfo& context) override {
        m_journal.push_back({m_number, 'E', text, code, &context});
    }
    void LogWarning(const wchar_t* text) override {
        m_journal.push_back({m_number, 'W', text, Error::Ok, nullptr});
    }
    void LogMessage(const wchar_t* text) override {
        m_journal.push_back({m_number, 'M', text, Error::Ok, nullptr});
    }

  private:
    int m_number;
    std::vector<Received>& m_journal;
};

// Removes every logger the test added, so the process-wide manager is clean for the next test.
class LogManagerTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (ILogger* logger : added)
            while (manager->RemoveLogger(logger) == Error::Ok) {
            }
    }
    Error::Enum Add(ILogger* logger) {
        added.push_back(logger);
        return manager->AddLogger(logger);
    }
    std::vector<int> Senders() const {
        std::vector<int> senders;
        for (const auto& r : journal)
            senders.push_back(r.logger);
        return senders;
    }

    LogManager* manager = GetLogManagerPrivate();
    std::vector<Received> journal;
    std::vector<ILogger*> added;
};

} // namespace

TEST_F(LogManagerTest, PublicAndPrivateAccessorsAgree) {
    EXPECT_EQ(GetLogManager(), static_cast<ILogManager*>(GetLogManagerPrivate()));
}

TEST_F(LogManagerTest, AddLoggerRejectsNullAndASeventeenth) {
    EXPECT_EQ(manager->AddLogger(nullptr), Error::InvalidParameter);
    std::vector<RecordingLogger> loggers;
    loggers.reserve(17);
    for (int i = 0; i < 17; ++i)
        loggers.emplace_back(i, journal);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(Add(&loggers[i]), Error::Ok) << i;
    EXPECT_EQ(Add(&loggers[16]), Error::OutOfMemory);
    manager->LogMessage(L"all");
    EXPECT_EQ(journal.size(), 16u);
}

TEST_F(LogManagerTest, LoggersAreCalledInRegistrationOrderAndRemovalClosesTheGap) {
    RecordingLogger l1(1, journal), l2(2, journal), l3(3, journal);
    ASSERT_EQ(Add(&l1), Error::Ok);
    ASSERT_EQ(Add(&l2), Error::Ok);
    ASSERT_EQ(Add(&l3), Error::Ok);
    manager->LogMessage(L"m");
    EXPECT_EQ(Senders(), (std::vector<int>{1, 2, 3}));
    journal.clear();
    EXPECT_EQ(manager->RemoveLogger(&l2), Error::Ok);
    manager->LogMessage(L"m");
    EXPECT_EQ(Senders(), (std::vector<int>{1, 3}));
    EXPECT_EQ(manager->RemoveLogger(&l2), Error::InvalidParameter);
}

TEST_F(LogManagerTest, SameLoggerTwiceReceivesTwiceUntilOneEntryIsRemoved) {
    RecordingLogger l1(1, journal), l2(2, journal);
    ASSERT_EQ(Add(&l1), Error::Ok);
    ASSERT_EQ(Add(&l2), Error::Ok);
    ASSERT_EQ(Add(&l1), Error::Ok);
    manager->LogWarning(L"w");
    EXPECT_EQ(Senders(), (std::vector<int>{1, 2, 1}));
    journal.clear();
    EXPECT_EQ(manager->RemoveLogger(&l1), Error::Ok);
    manager->LogWarning(L"w");
    EXPECT_EQ(Senders(), (std::vector<int>{2, 1})) << "only the first entry went";
}

TEST_F(LogManagerTest, EachKindReachesItsSlot) {
    RecordingLogger logger(1, journal);
    ASSERT_EQ(Add(&logger), Error::Ok);
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    manager->LogError(Error::IO, context, L"cannot open %ls (%d)", L"a.bin", 5);
    manager->LogError(Error::Unknown, L"kept as is: %d", context);
    manager->LogWarning(L"%d%%", 50);
    manager->LogMessage(L"%s and %ls", L"wide", L"wider");
    ASSERT_EQ(journal.size(), 4u);
    EXPECT_EQ(journal[0].kind, 'E');
    EXPECT_EQ(journal[0].text, L"cannot open a.bin (5)");
    EXPECT_EQ(journal[0].code, Error::IO);
    EXPECT_EQ(journal[0].context, &context);
    EXPECT_EQ(journal[1].kind, 'E');
    EXPECT_EQ(journal[1].text, L"kept as is: %d");
    EXPECT_EQ(journal[1].code, Error::Unknown);
    EXPECT_EQ(journal[2].kind, 'W');
    EXPECT_EQ(journal[2].text, L"50%");
    EXPECT_EQ(journal[3].kind, 'M');
    EXPECT_EQ(journal[3].text, L"wide and wider");
}

TEST_F(LogManagerTest, IdentifiedWarningsCanBeMutedAndUnmuted) {
    RecordingLogger logger(1, journal);
    ASSERT_EQ(Add(&logger), Error::Ok);
    EXPECT_FALSE(manager->IsWarningMuted(4242));
    manager->LogWarning(7u, L"x=%d", 5);
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].kind, 'W');
    EXPECT_EQ(journal[0].text, L"W7: x=5");
    manager->MuteWarning(7);
    EXPECT_TRUE(manager->IsWarningMuted(7));
    manager->LogWarning(7u, L"x=%d", 5);
    manager->LogWarning(L"x=%d", 5);
    ASSERT_EQ(journal.size(), 2u) << "warnings without identifier are never muted";
    EXPECT_EQ(journal[1].text, L"x=5");
    manager->UnMuteWarning(7);
    EXPECT_FALSE(manager->IsWarningMuted(7));
    manager->LogWarning(42u, L"Texture missing");
    manager->LogWarning(7u, L"x=%d", 6);
    ASSERT_EQ(journal.size(), 4u);
    EXPECT_EQ(journal[2].text, L"W42: Texture missing");
    EXPECT_EQ(journal[3].text, L"W7: x=6");
}

TEST_F(LogManagerTest, LongTextsAreCutTo2047Characters) {
    RecordingLogger logger(1, journal);
    ASSERT_EQ(Add(&logger), Error::Ok);
    const std::wstring longText(5000, L'q');
    manager->LogMessage(L"%ls", longText.c_str());
    manager->LogWarning(3u, L"%ls", longText.c_str());
    const ContextInfo context = MARVANE_CONTEXT_INFO;
    manager->LogError(Error::IO, context, L"%ls!", longText.c_str());
    ASSERT_EQ(journal.size(), 3u);
    EXPECT_EQ(journal[0].text, longText.substr(0, 2047));
    EXPECT_EQ(journal[1].text, L"W3: " + longText.substr(0, 2043));
    EXPECT_EQ(journal[2].text, longText.substr(0, 2047));
}

TEST_F(LogManagerTest, LoggerMayLogAgainFromInsideACall) {
    // Re-enters the manager on the same thread: the lock must be re-entrant.
    class EchoLogger : public RecordingLogger {
      public:
        using RecordingLogger::RecordingLogger;
        void LogMessage(const wchar_t* text) override {
            RecordingLogger::LogMessage(text);
            if (std::wstring(text) == L"first") GetLogManagerPrivate()->LogWarning(L"echo of %ls", text);
        }
    };
    EchoLogger logger(1, journal);
    ASSERT_EQ(Add(&logger), Error::Ok);
    manager->LogMessage(L"first");
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[1].text, L"echo of first");
}

TEST_F(LogManagerTest, MutedSetGrowsByTheDictionaryRules) {
    ScopedCountingAllocator scoped;
    ASSERT_TRUE(scoped.Registered());
    using Bucket = Dictionary<unsigned int, bool>::Bucket;
    const unsigned base = 100000;
    for (unsigned i = 0; i < 33; ++i)
        manager->MuteWarning(base + i);
    const auto bucketArrays = [&](std::uint64_t buckets) {
        int found = 0;
        for (const auto& call : scoped.allocator.Calls())
            if (call.op == CountingAllocator::Op::Alloc && call.size == buckets * sizeof(Bucket) + 16)
                ++found;
        return found;
    };
    EXPECT_EQ(bucketArrays(24), 0) << "33 identifiers fit 16 buckets";
    manager->MuteWarning(base + 33);
    EXPECT_EQ(bucketArrays(24), 1) << "the 34th rebuilds with 24 buckets";
    for (unsigned i = 0; i < 34; ++i)
        EXPECT_TRUE(manager->IsWarningMuted(base + i)) << i;
    for (unsigned i = 0; i < 34; ++i)
        manager->UnMuteWarning(base + i);
    EXPECT_FALSE(manager->IsWarningMuted(base));
    // The nodes went back to the allocator they came from; the bucket array stays.
    int nodes = 0;
    for (const auto& call : scoped.allocator.Calls())
        if (call.size == sizeof(Dictionary<unsigned int, bool>::Pair) + 16) ++nodes;
    EXPECT_EQ(nodes, 34);
    int released = 0;
    for (const auto& call : scoped.allocator.Calls())
        if (call.op == CountingAllocator::Op::Free) ++released;
    EXPECT_EQ(released, 34 + 1) << "34 nodes and the replaced 16-bucket array";
}

TEST_F(LogManagerTest, NothingIsDeliveredWithoutLoggers) {
    // Only checks that the calls are safe; with no logger nothing is formatted.
    manager->LogMessage(L"%ls", L"nobody listens");
    manager->LogWarning(9u, L"%d", 1);
    EXPECT_TRUE(journal.empty());
}
