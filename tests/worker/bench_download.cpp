// Fetches one file with the worker's download path (login, FetchArchive:
// the extra connection logged in ahead, DownloadFile);
// used by scripts/bench/download and scripts/bench/link. The Download folder
// is the one below $HOME, as in the programs.
#include "platform/CFtpConnection.h"
#include "platform/CInternetException.h"
#include "platform/DownloadFolder.h"
#include "worker/CKELDownloadThread.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: bench_download PORT NAME SIZE [HOST]\n");
        return 2;
    }
    CKELDownloadThread worker;   // never started: only its download operation is used
    worker.m_settings.host = argc == 5 ? argv[4] : "127.0.0.1";
    worker.m_settings.port = std::atol(argv[1]);
    worker.m_downloadFolder = GetDownloadFolder();
    // For comparisons only: the build's number of connections otherwise.
    if (const char* n = std::getenv("BENCH_CONNECTIONS"))
        worker.m_connections = std::atoi(n);
    try {
        CFtpConnection connection(worker.m_settings.host, worker.m_settings.port, worker.m_settings.user,
                                  worker.m_settings.password, true, worker.m_timeouts, {}, worker.m_settings.tls);
        return worker.FetchArchive(connection, argv[2], std::strtoull(argv[3], nullptr, 10)) ? 0 : 1;
    } catch (const CInternetException& e) {
        std::fprintf(stderr, "bench_download: %s\n", e.what());
        return 1;
    }
}
