#include "worker/CStandbyLogin.h"

#include "platform/CFtpConnection.h"

#include <chrono>

CStandbyLogin::CStandbyLogin(const FtpSettings& settings, const FtpTimeouts& timeouts, std::function<bool()> stop)
    : m_stop(std::move(stop)), m_thread(&CStandbyLogin::LogIn, this, std::cref(settings), std::cref(timeouts))
{}

CStandbyLogin::~CStandbyLogin()
{
    // A login still going on ends at its next wait.
    m_abandoned = true;
    m_thread.join();
}

void CStandbyLogin::LogIn(const FtpSettings& settings, const FtpTimeouts& timeouts)
{
    std::unique_ptr<CFtpConnection> connection;
    try {
        connection = std::make_unique<CFtpConnection>(
            settings.host, settings.port, settings.user, settings.password, /*passive=*/true, timeouts,
            [this] { return m_abandoned.load() || (m_stop && m_stop()); }, settings.tls);
    } catch (...) {
        // Refused, timed out or stopped: the download goes on without it.
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_connection = std::move(connection);
    m_loggedIn = true;
    m_ended.notify_all();
}

std::unique_ptr<CFtpConnection> CStandbyLogin::Take(const std::function<bool()>& giveUp)
{
    m_taken = true;
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_loggedIn) {
        if (giveUp())
            return nullptr;
        m_ended.wait_for(hold, std::chrono::milliseconds(100));
    }
    if (m_connection)
        m_connection->SetCancelled(giveUp);
    return std::move(m_connection);
}
