#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

// A worker thread in the old style: created suspended so its owner can wire it,
// resumed, runs InitInstance and then Run once, and deletes its own object after
// Run. The owner keeps a CWorkerHandle, which outlives the object and is the
// only safe way to stop the thread or wait for it once it has been resumed.
class CWorkerThread {
public:
    virtual ~CWorkerThread() = default;
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    virtual bool InitInstance() { return true; }
    virtual int Run() = 0;
    // Called on the thread when InitInstance or Run throws; must not throw.
    virtual void OnUncaughtException() noexcept {}

    // The stop flag. The owner sets it through its handle once the thread runs;
    // the worker's loops test it.
    bool StopRequested() const;
    void RequestStop();

    struct State {
        std::mutex lock;
        std::condition_variable changed;
        bool resumed = false;
        bool abandoned = false;
        bool finished = false;
        std::atomic<bool> stop{false};
        // Touched only by the handle: joined once finished, so the thread's
        // own clean-up (thread-local state of libraries) has run; detached
        // when the handle goes first.
        std::thread thread;
    };

protected:
    CWorkerThread();

private:
    friend class CWorkerHandle;
    std::shared_ptr<State> m_state;
};

class CWorkerHandle {
public:
    CWorkerHandle() = default;
    // Starts the thread for `thread` suspended and takes ownership of the object.
    // When no thread can be made the object is deleted and the handle is empty.
    static CWorkerHandle BeginSuspended(CWorkerThread* thread);
    ~CWorkerHandle();
    CWorkerHandle(CWorkerHandle&&) noexcept = default;
    CWorkerHandle& operator=(CWorkerHandle&&) noexcept;

    explicit operator bool() const { return m_state != nullptr; }
    void Resume();
    void RequestStop();
    // True once Run has returned, the object is gone and the thread has ended.
    bool WaitFinished(std::chrono::milliseconds limit);
    // Waits for that however long the worker's clean-up takes; its own waits are bounded.
    void WaitFinished();

private:
    std::shared_ptr<CWorkerThread::State> m_state;
};
