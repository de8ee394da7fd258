// vorndownload-cli: the download job in a terminal. Prints what the window
// would show, exits 0 after a complete run and 1 otherwise. Ctrl-C or SIGTERM
// stops the worker; the program ends once the worker has cleaned up (a
// partial archive kept as "<name>.part" with its "<name>.part-state" for the
// next run to resume from), and a second Ctrl-C ends it at once.
#include "VornVersion.h"
#include "cli/CTerminalDisplay.h"
#include "cli/CTerminalReceiver.h"
#include "platform/CNotifyChannel.h"
#include "platform/DownloadFolder.h"
#include "platform/Terminal.h"
#include "worker/CProgressModel.h"
#include "worker/DownloadJob.h"
#include "worker/FtpSettings.h"
#include "worker/Messages.h"
#include "worker/ReleaseKey.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::atomic<bool> g_interrupted{false};

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

}   // namespace

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

    if (!quiet && *BuiltInReleaseKey() == '\0')
        std::fprintf(stderr, "vorndownload-cli: %s\n", kReleasesNotVerified);

    CatchInterrupt(g_interrupted);

    const std::string folder = GetDownloadFolder();
    auto channel = std::make_shared<CNotifyChannel>();
    CTerminalReceiver receiver(*channel);
    channel->Attach(&receiver);
    CWorkerHandle handle = StartDownloadJob(channel, folder, BuiltInReleaseKey());
    if (!handle) {
        std::fprintf(stderr, "vorndownload-cli: cannot start the download thread\n");
        return 1;
    }

    using Mode = CTerminalDisplay::Mode;
    CTerminalDisplay display(quiet ? Mode::Quiet : OutputIsTerminal() ? Mode::Terminal : Mode::Lines);
    CProgressModel model(*channel);
    bool stopping = false;
    // Until the run's end arrives: a stopped worker still posts it on its way out.
    while (!model.Result()) {
        if (g_interrupted && !stopping) {
            handle.RequestStop();
            stopping = true;
        }
        // Asked first: all a finished worker posted is queued by then.
        const bool ended = handle.WaitFinished(std::chrono::milliseconds(0));
        if (const auto m = receiver.Wait(std::chrono::milliseconds(ended ? 0 : 50)))
            display.Show(model, model.Take(*m));
        else if (ended)
            break;   // ended without its last notice: nothing more will come
    }
    handle.WaitFinished();
    channel->Detach();
    const bool complete = !g_interrupted && model.Result() == RunResult::Complete;
    display.Finish(g_interrupted ? std::string("Interrupted") : model.Status(), folder);
    if (const std::string& why = model.FailureReason(); !complete && !g_interrupted && !why.empty())
        std::fprintf(stderr, "vorndownload-cli: %s\n", why.c_str());
    return complete ? 0 : 1;
}
