// Fetches one file with the worker's download path (login, DownloadFile);
// used by scripts/bench/download.
#include "platform/CFtpConnection.h"
#include "worker/CKELDownloadThread.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_download PORT NAME SIZE\n");
        return 2;
    }
    CKELDownloadThread worker;   // never started: only its download operation is used
    CFtpConnection connection("127.0.0.1", std::atol(argv[1]), "vornpublic", worker.m_settings.password, true);
    return worker.DownloadFile(connection, argv[2], std::strtoull(argv[3], nullptr, 10)) ? 0 : 1;
}
