#pragma once
#include "platform/CNotifyChannel.h"
#include "platform/CWorkerThread.h"

#include <memory>
#include <string>

// The job as every front end starts it: the worker made suspended, handed
// the Download folder and the publisher's key, wired to `channel`, resumed.
// An empty handle when no thread could be made.
CWorkerHandle StartDownloadJob(const std::shared_ptr<CNotifyChannel>& channel, const std::string& downloadFolder,
                               const std::string& releaseKey);
