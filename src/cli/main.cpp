// vorndownload-cli: the download job in a terminal. Prints what the window
// would show, exits 0 after "Download Complete" and 1 otherwise. Ctrl-C stops
// the worker, which deletes a partial archive before the program ends.
#include "cli/CTerminalReceiver.h"
#include "platform/CNotifyChannel.h"
#include "platform/DownloadFolder.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int)
{
    g_interrupted = true;
}

// One line on a terminal, redrawn in place; plain lines anywhere else.
class Display {
public:
    explicit Display(bool terminal) : m_terminal(terminal) {}

    void Status(const std::string& text)
    {
        if (text == m_status)
            return;
        m_status = text;
        if (m_terminal) {
            Redraw();
        } else {
            // Line by line, so a log or a pipe sees each status as it happens.
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        }
    }
    void Progress(std::uint32_t pos, std::int32_t range)
    {
        const auto p = static_cast<std::int32_t>(pos);
        if (p == 0)
            m_range = range, m_pos = 0, m_bar = true;
        else if (p == range)
            m_bar = false;
        else if (range > 0)
            m_pos = p;
        if (m_terminal)
            Redraw();
    }
    void Line(const std::string& text)
    {
        if (m_terminal)
            std::printf("\r\033[K");
        std::printf("%s\n", text.c_str());
        if (m_terminal)
            Redraw();
        std::fflush(stdout);
    }
    void Finish()
    {
        if (m_terminal)
            std::printf("\r\033[K%s\n", m_status.c_str());
        std::fflush(stdout);
    }

private:
    void Redraw()
    {
        std::string bar;
        if (m_bar && m_range > 0) {
            const int width = 30;
            const int filled = static_cast<int>(static_cast<long long>(m_pos) * width / m_range);
            bar = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] ";
        }
        std::printf("\r\033[K%s%s", bar.c_str(), m_status.c_str());
        std::fflush(stdout);
    }

    bool m_terminal;
    std::string m_status;
    std::int32_t m_range = 0;
    std::int32_t m_pos = 0;
    bool m_bar = false;
};

int Usage(FILE* out, int code)
{
    std::fprintf(out,
                 "Usage: vorndownload-cli [--help | --version]\n"
                 "Fetches the newest KEL application and update from the publisher's FTP site\n"
                 "into \"%s\" and unpacks them. The installer is not started.\n"
                 "VORN_FTP_HOST and VORN_FTP_PORT name another server (a mirror or the demo).\n",
                 GetDownloadFolder().c_str());
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("vorndownload-cli %s\n", VORN_VERSION);
            return 0;
        }
        if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
            return Usage(stdout, 0);
        return Usage(stderr, 2);
    }

    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    CTerminalReceiver receiver;
    auto channel = std::make_shared<CNotifyChannel>(&receiver);
    auto* worker = new CKELDownloadThread;
    CWorkerHandle handle = CWorkerHandle::BeginSuspended(worker);
    if (!handle) {
        std::fprintf(stderr, "vorndownload-cli: cannot start the download thread\n");
        return 1;
    }
    worker->Wire(channel);
    handle.Resume();
    worker = nullptr;   // the thread owns and deletes it from here on

    Display display(isatty(STDOUT_FILENO) == 1);
    std::string verdict;
    bool over = false;
    while (!over) {
        if (g_interrupted) {
            handle.RequestStop();
            break;
        }
        const auto m = receiver.Wait(std::chrono::milliseconds(50));
        if (!m)
            continue;
        if (m->message == UM_PROGRESS_BAR) {
            display.Progress(m->wParam, m->lParam);
        } else if (m->message == UM_FILENAME_UPDATE) {
            switch (m->wParam) {
            case kStatusChanged:
                display.Status(channel->statusText.Get());
                break;
            case kApplicationChosen:
                display.Line("Application: " + channel->appName.Get());
                break;
            case kUpdateChosen:
                display.Line("Update: " + channel->updateName.Get());
                break;
            case kJobOver:
                verdict = channel->statusText.Get();
                display.Status(verdict);
                over = true;
                break;
            }
        }
    }
    // A stopped worker cleans up its partial archive before it ends.
    handle.WaitFinished(std::chrono::milliseconds(900));
    channel->Detach();
    display.Finish();
    if (g_interrupted) {
        std::printf("Interrupted\n");
        std::fflush(stdout);
        return 1;
    }
    std::printf("Download folder: %s\n", GetDownloadFolder().c_str());
    std::fflush(stdout);
    return verdict == "Download Complete" ? 0 : 1;
}
