#pragma once
#include "worker/FtpSettings.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CFtpConnection;

// The first extra connection of a large download, logged in ahead of need:
// on a thread of its own while the worker's connection still sets up the
// archive's transfer, so that it can start fetching once it is asked for
// instead of a dozen round trips later. Handed out once; one never taken is
// logged out with the object.
class CStandbyLogin {
public:
    CStandbyLogin(const FtpSettings& settings, const FtpTimeouts& timeouts, std::function<bool()> stop);
    ~CStandbyLogin();
    CStandbyLogin(const CStandbyLogin&) = delete;
    CStandbyLogin& operator=(const CStandbyLogin&) = delete;

    bool Taken() const { return m_taken; }
    // Waits for the login and hands its connection over, which from then on
    // asks `giveUp` whether to stop; null when the login failed (the server
    // takes no more connections, say) or `giveUp` answered true first.
    std::unique_ptr<CFtpConnection> Take(const std::function<bool()>& giveUp);

private:
    void LogIn(const FtpSettings& settings, const FtpTimeouts& timeouts);

    const std::function<bool()> m_stop;
    std::atomic<bool> m_abandoned{false};
    std::atomic<bool> m_taken{false};
    std::mutex m_lock;
    std::condition_variable m_ended;
    bool m_loggedIn = false;                        // under m_lock: the login has ended, well or not
    std::unique_ptr<CFtpConnection> m_connection;   // under m_lock
    std::thread m_thread;
};
