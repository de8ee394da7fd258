#include "worker/DownloadJob.h"

#include "worker/CKELDownloadThread.h"

CWorkerHandle StartDownloadJob(const std::shared_ptr<CNotifyChannel>& channel, const std::string& downloadFolder,
                               const std::string& releaseKey)
{
    auto* worker = new CKELDownloadThread;
    worker->m_downloadFolder = downloadFolder;
    worker->m_settings.releaseKey = releaseKey;
    CWorkerHandle handle = CWorkerHandle::BeginSuspended(worker);
    if (handle) {   // the thread owns the worker from here and deletes it after its run
        worker->Wire(channel);
        handle.Resume();
    }
    return handle;
}
