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

bool CFolder::RemoveTree(const std::string& name) const
{
    const std::optional<FolderEntry> there = Stat(name);
    if (!there)
        return true;
    if (there->kind != FolderEntry::Kind::Folder)
        return false;
    {
        // Closed before the folder goes: Windows keeps an open folder.
        const CFolder folder = OpenFolder(name, /*create=*/false);
        if (!folder)
            return false;
        for (const std::string& child : folder.List()) {
            const std::optional<FolderEntry> entry = folder.Stat(child);
            if (entry && entry->kind == FolderEntry::Kind::Folder)
                (void)folder.RemoveTree(child);   // what stays makes the folder's own removal fail
            else
                (void)folder.RemoveFile(child);   // likewise; a link stays and is never followed
        }
    }
    return RemoveEmptyFolder(name);
}
