#pragma once
#include "support/Notices.h"
#include "worker/BaseName.h"
#include "worker/CKELDownloadThread.h"

#include <cstdio>

// Whole notification sequences of single runs, as the worker posts them, for
// the front ends' readers.

// The download of `total` bytes in 64 KiB pieces: start, each piece with its
// percentage in the status text, end.
inline std::vector<Notice> DownloadRun(const std::string& name, std::uint64_t total)
{
    const auto range = static_cast<std::int64_t>(total);
    std::vector<Notice> v{P(0, range)};
    v.reserve(total / 65536 * 2 + 3);
    for (std::uint64_t done = 0; done < total;) {
        done += std::min<std::uint64_t>(65536, total - done);
        char text[300];
        std::snprintf(text, sizeof text, "%s - %.0f%% Complete", BaseName(name).c_str(),
                      static_cast<double>(done) * 100.0 / static_cast<double>(total));
        v.push_back(P(done, range));
        v.push_back(S(text));
    }
    v.push_back(P(total, range));
    return v;
}

// The real unpacking of KEL_V12.zip (a 4 MiB entry between two small ones)
// in `home`'s Download folder.
inline std::vector<Notice> UnpackRun(const TempHome& home)
{
    fs::create_directories(home.DownloadFolder());
    RunPython("import sys, zipfile\n"
              "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
              "    z.writestr('KEL_V12/a.txt', 'a' * 1000)\n"
              "    z.writestr('KEL_V12/dvd.bin', bytes(4 << 20))\n"
              "    z.writestr('KEL_V12/KEL_V12/Setup.exe', 'setup')\n",
              home.DownloadFolder() / "KEL_V12.zip");
    auto channel = std::make_shared<CNotifyChannel>();
    RecordingReceiver receiver(channel.get());
    channel->Attach(&receiver);
    CKELDownloadThread worker;
    worker.Wire(channel);
    worker.m_downloadFolder = home.Folder();
    worker.TakeArchive("KEL_V12.zip");
    worker.UnpackArchive("KEL_V12.zip", nullptr);
    return WithStatusWhereItMatters(receiver.Take());
}

// Hands `notices` to `take` one by one, the status slot written first, as the
// worker does; `at` sees the index of each one after it was taken.
template <class Take, class At>
void Replay(CNotifyChannel& channel, const std::vector<Notice>& notices, Take take, At at)
{
    for (std::size_t i = 0; i < notices.size(); ++i) {
        const Notice& n = notices[i];
        if (n.message == UM_FILENAME_UPDATE && (n.wParam == kStatusChanged || n.wParam == kJobOver))
            channel.statusText.Set(n.status);
        take(n.message, n.wParam, n.lParam);
        at(i);
    }
}
