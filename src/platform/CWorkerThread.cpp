#include "platform/CWorkerThread.h"

CWorkerThread::CWorkerThread() : m_state(std::make_shared<State>())
{}

bool CWorkerThread::StopRequested() const
{
    return m_state->stop.load(std::memory_order_relaxed);
}

void CWorkerThread::RequestStop()
{
    m_state->stop.store(true, std::memory_order_relaxed);
}

CWorkerHandle CWorkerHandle::BeginSuspended(CWorkerThread* thread)
{
    CWorkerHandle handle;
    auto state = thread->m_state;
    try {
        state->thread = std::thread([thread, state] {
            {
                std::unique_lock guard(state->lock);
                state->changed.wait(guard, [&] { return state->resumed || state->abandoned; });
            }
            // Nothing may escape a thread function: it would end the program.
            try {
                if (state->resumed && thread->InitInstance())
                    thread->Run();
            } catch (...) {
                thread->OnUncaughtException();
            }
            delete thread;
            std::lock_guard guard(state->lock);
            state->finished = true;
            state->changed.notify_all();
        });
    } catch (const std::system_error&) {
        delete thread;   // no thread: the caller carries on without a worker
        return handle;
    }
    handle.m_state = std::move(state);
    return handle;
}

CWorkerHandle::~CWorkerHandle()
{
    // A thread that was never resumed would wait for ever: let it clean up.
    if (!m_state)
        return;
    bool finished = false;
    {
        std::lock_guard guard(m_state->lock);
        if (!m_state->resumed) {
            m_state->abandoned = true;
            m_state->changed.notify_all();
        }
        finished = m_state->finished;
    }
    if (m_state->thread.joinable()) {
        if (finished)
            m_state->thread.join();
        else
            m_state->thread.detach();
    }
}

CWorkerHandle& CWorkerHandle::operator=(CWorkerHandle&& other) noexcept
{
    if (this != &other) {
        CWorkerHandle old(std::move(*this));
        m_state = std::move(other.m_state);
    }
    return *this;
}

void CWorkerHandle::Resume()
{
    std::lock_guard guard(m_state->lock);
    m_state->resumed = true;
    m_state->changed.notify_all();
}

void CWorkerHandle::RequestStop()
{
    if (m_state)
        m_state->stop.store(true, std::memory_order_relaxed);
}

bool CWorkerHandle::WaitFinished(std::chrono::milliseconds limit)
{
    if (!m_state)
        return true;
    {
        std::unique_lock guard(m_state->lock);
        if (!m_state->changed.wait_for(guard, limit, [&] { return m_state->finished; }))
            return false;
    }
    if (m_state->thread.joinable())
        m_state->thread.join();
    return true;
}

void CWorkerHandle::WaitFinished()
{
    if (!m_state)
        return;
    {
        std::unique_lock guard(m_state->lock);
        if (!m_state->resumed) {   // never resumed: it would wait for ever
            m_state->abandoned = true;
            m_state->changed.notify_all();
        }
        m_state->changed.wait(guard, [&] { return m_state->finished; });
    }
    if (m_state->thread.joinable())
        m_state->thread.join();
}
