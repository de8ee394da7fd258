#include "worker/Messages.h"

#include "platform/CMessageRegistry.h"

// The worker's side registers the three names it knows; the dialog registers
// all four and gets the same numbers.
const unsigned UM_PROGRESS_BAR = CMessageRegistry::Register(kProgressBarName);
const unsigned UM_FILENAME_UPDATE = CMessageRegistry::Register(kFilenameUpdateName);
const unsigned UM_END_ZIP = CMessageRegistry::Register(kEndZipName);

const char* RunResultText(RunResult result)
{
    switch (result) {
    case RunResult::Complete:
        return "Download Complete";
    case RunResult::InternetFailed:
        return "Internet Failed";
    case RunResult::Failed:
        break;
    }
    return "Download Failed - Try Again";
}
