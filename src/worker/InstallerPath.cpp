#include "worker/InstallerPath.h"

#include "platform/CFolder.h"
#include "platform/DownloadFolder.h"

#include <optional>

InstallerPath FindInstaller(const std::string& downloadFolder, const std::string& app)
{
    InstallerPath result;
    result.path = downloadFolder + app + kFolderSeparator + app + kFolderSeparator + "Setup.exe";
    if (!IsPlainFileName(app)) {
        result.problem = "the application name \"" + app + "\" is not a plain folder name";
        return result;
    }
    const CFolder folder = CFolder::OpenPath(downloadFolder, /*create=*/false);
    const CFolder outer = folder.IsOpen() ? folder.OpenFolder(app, /*create=*/false) : CFolder();
    const CFolder inner = outer.IsOpen() ? outer.OpenFolder(app, /*create=*/false) : CFolder();
    const std::optional<FolderEntry> setup = inner.IsOpen() ? inner.Stat("Setup.exe") : std::nullopt;
    if (!setup)
        result.problem = "it is not there, or a link stands in its path";
    else if (setup->kind != FolderEntry::Kind::File)
        result.problem = "it is not a regular file";
    return result;
}
