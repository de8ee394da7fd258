// vorndownload-cli: the download job in a terminal. Prints what the window
// would show, exits 0 after "Download Complete" and 1 otherwise. Ctrl-C stops
// the worker, which deletes a partial archive before the program ends.
#include "cli/CTerminalDisplay.h"
#include "cli/CTerminalReceiver.h"
#include "platform/CNotifyChannel.h"
#include "platform/DownloadFolder.h"
#include "worker/CKELDownloadThread.h"
#include "worker/FtpSettings.h"
#include "worker/Messages.h"
#include "VornVersion.h"

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

int Usage(FILE* out, int code)
{
    std::fprintf(out,
                 "Usage: vorndownload-cli [--quiet] | -h | --help | --version\n"
                 "Fetches the newest KEL application and update from the publisher's FTP site\n"
                 "into \"%s\" and unpacks them. The installer is not started.\n"
                 "\n"
                 "  --quiet    print only the final status and the Download folder\n"
                 "  -h, --help print this help\n"
                 "  --version  print the version\n"
                 "\n"
                 "VORN_FTP_HOST and VORN_FTP_PORT name another server (a mirror or the demo);\n"
                 "ftp_proxy, all_proxy and no_proxy are honoured as curl honours them.\n"
                 "\n"
                 "Exit status: 0 after \"Download Complete\", 1 after any other end (a failed\n"
                 "download or unpacking, \"Internet Failed\", Ctrl-C), 2 for wrong arguments.\n",
                 GetDownloadFolder().c_str());
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    bool quiet = false;
    if (argc > 1) {
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("vorndownload-cli %s\n", VORN_VERSION);
            return 0;
        }
        if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
            return Usage(stdout, 0);
        if (argc == 2 && std::strcmp(argv[1], "--quiet") == 0) {
            quiet = true;
        } else {
            // Name the first argument not understood, then show what is.
            const char* wrong = argv[argc - 1];
            for (int i = 1; i < argc; ++i) {
                if (std::strcmp(argv[i], "--quiet") != 0) {
                    wrong = argv[i];
                    break;
                }
            }
            std::fprintf(stderr, "vorndownload-cli: unknown argument \"%s\"\n", wrong);
            return Usage(stderr, 2);
        }
    }
    if (const std::string problem = FtpSettingsProblem(); !problem.empty()) {
        std::fprintf(stderr, "vorndownload-cli: %s\n", problem.c_str());
        return 2;
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

    using Mode = CTerminalDisplay::Mode;
    CTerminalDisplay display(quiet ? Mode::Quiet : isatty(STDOUT_FILENO) == 1 ? Mode::Terminal : Mode::Lines);
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
                if (!quiet)
                    display.Status(verdict);
                over = true;
                break;
            }
        }
    }
    // A stopped worker cleans up its partial archive before it ends.
    handle.WaitFinished(std::chrono::milliseconds(900));
    channel->Detach();
    if (g_interrupted) {
        display.Finish("Interrupted", {});
        return 1;
    }
    display.Finish(verdict, GetDownloadFolder());
    return verdict == "Download Complete" ? 0 : 1;
}
