#include "platform/CMessageRegistry.h"
#include "platform/CNotifyChannel.h"
#include "platform/CWorkerThread.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;

TEST(MessageRegistry, SameNameSameNumberOtherNameOtherNumber)
{
    const unsigned a = CMessageRegistry::Register("UM_TEST_A-{1}");
    const unsigned b = CMessageRegistry::Register("UM_TEST_B-{2}");
    EXPECT_EQ(a, CMessageRegistry::Register(std::string("UM_TEST_A-{1}")));
    EXPECT_NE(a, b);
    EXPECT_GE(a, 0xC000u);
}

TEST(NotifyChannel, PostsWithoutReceiverAreDroppedAndDetachStopsDelivery)
{
    CNotifyChannel channel;
    channel.Post(1, 2, 3);   // nobody attached: dropped, no crash
    RecordingReceiver receiver;
    channel.Attach(&receiver);
    channel.Post(4, 5, 6);
    channel.Detach();
    channel.Post(7, 8, 9);
    const auto notices = receiver.Take();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].message, 4u);
}

// Under TSan this also proves the slots and the channel need no outside lock.
TEST(NotifyChannel, ReaderAlwaysSeesAWholeTextUnderConcurrentWrites)
{
    auto channel = std::make_shared<CNotifyChannel>();
    const std::string a(1000, 'a'), b(3000, 'b');
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            channel->statusText.Set(i % 2 ? a : b);
            channel->Post(1, static_cast<std::uint32_t>(i), 0);
        }
        done = true;
    });
    RecordingReceiver receiver(channel.get());
    channel->Attach(&receiver);
    int reads = 0;
    while (!done || reads < 1000) {
        const std::string seen = channel->statusText.Get();
        ASSERT_TRUE(seen.empty() || seen == a || seen == b) << "torn text of length " << seen.size();
        ++reads;
    }
    channel->Detach();
    writer.join();
    for (const auto& n : receiver.Take())
        ASSERT_TRUE(n.status == a || n.status == b);
}

namespace {

struct Probe {
    std::atomic<int> initCalls{0};
    std::atomic<int> runCalls{0};
    std::atomic<bool> deleted{false};
    std::atomic<bool> ranBeforeResume{false};
    std::atomic<bool> resumed{false};
    std::atomic<bool> sawStop{false};
};

class ProbeThread : public CWorkerThread {
public:
    explicit ProbeThread(Probe& p, bool waitForStop = false) : m_probe(p), m_waitForStop(waitForStop) {}
    ~ProbeThread() override { m_probe.deleted = true; }
    bool InitInstance() override
    {
        if (!m_probe.resumed)
            m_probe.ranBeforeResume = true;
        ++m_probe.initCalls;
        return true;
    }
    int Run() override
    {
        EXPECT_EQ(m_probe.initCalls, 1);   // InitInstance comes first
        ++m_probe.runCalls;
        while (m_waitForStop && !StopRequested())
            std::this_thread::sleep_for(1ms);
        m_probe.sawStop = StopRequested();
        return 0;
    }

private:
    Probe& m_probe;
    bool m_waitForStop;
};

}   // namespace

TEST(WorkerThread, StartsSuspendedRunsOnceAfterResumeThenDeletesItself)
{
    Probe probe;
    CWorkerHandle handle = CWorkerHandle::BeginSuspended(new ProbeThread(probe));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(probe.runCalls, 0);
    probe.resumed = true;
    handle.Resume();
    ASSERT_TRUE(handle.WaitFinished(5s));
    EXPECT_FALSE(probe.ranBeforeResume);
    EXPECT_EQ(probe.runCalls, 1);
    EXPECT_TRUE(probe.deleted);
}

TEST(WorkerThread, StopFlagReachesRunAndAnAbandonedThreadNeverRuns)
{
    Probe stopped;
    CWorkerHandle handle = CWorkerHandle::BeginSuspended(new ProbeThread(stopped, /*waitForStop=*/true));
    handle.Resume();
    EXPECT_FALSE(handle.WaitFinished(50ms));
    handle.RequestStop();
    ASSERT_TRUE(handle.WaitFinished(5s));
    EXPECT_TRUE(stopped.sawStop);

    Probe abandoned;
    {
        CWorkerHandle never = CWorkerHandle::BeginSuspended(new ProbeThread(abandoned));
    }
    for (int i = 0; i < 500 && !abandoned.deleted; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(abandoned.deleted);
    EXPECT_EQ(abandoned.runCalls, 0);
}

// With no address space left for a thread's stack no thread can be made: the
// handle is empty and the object is deleted, so the caller carries on without.
// Sanitizers reserve address space of their own, so there it cannot be tried.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#ifndef _WIN32
namespace {

struct Counted : CWorkerThread {
    int* deleted;
    explicit Counted(int* d) : deleted(d) {}
    ~Counted() override { ++*deleted; }
    int Run() override { return 0; }
};

[[noreturn]] void StartWithoutAddressSpace()
{
    int deleted = 0;
    auto* thread = new Counted(&deleted);
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (1u << 20);
    const rlimit limit{room, room};
    setrlimit(RLIMIT_AS, &limit);
    const CWorkerHandle handle = CWorkerHandle::BeginSuspended(thread);
    std::_Exit(!handle && deleted == 1 ? 0 : 1);
}

}   // namespace
#endif

TEST(WorkerThread, NoThreadGivesAnEmptyHandleAndDeletesTheObject)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows sets no limit on a process's address space";
#else
    EXPECT_EXIT(StartWithoutAddressSpace(), ::testing::ExitedWithCode(0), "");
#endif
}
#endif
