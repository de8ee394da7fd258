// What CFolder does the same way on every system, over its own calls.
#include "platform/CFolder.h"

bool CFolder::RemoveUnlessLocked(const std::string& name) const
{
    const CFile file = OpenFile(name, FileOpen::Read);
    if (file.IsOpen() && !file.TryLock())
        return false;
    (void)RemoveFile(name);   // gone already or not a file: nothing of ours to keep
    return true;
}
