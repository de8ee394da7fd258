#include "worker/InstallerPath.h"

#include "platform/FileUtil.h"

#include <fcntl.h>
#include <sys/stat.h>

InstallerPath FindInstaller(const std::string& downloadFolder, const std::string& app)
{
    InstallerPath result;
    result.path = downloadFolder + app + "/" + app + "/Setup.exe";
    if (!IsPlainFileName(app)) {
        result.problem = "the application name \"" + app + "\" is not a plain folder name";
        return result;
    }
    const CFileDescriptor folder = OpenFolderPath(downloadFolder, /*create=*/false);
    const CFileDescriptor outer = folder.IsOpen() ? OpenSubFolder(folder.Get(), app, false) : CFileDescriptor();
    const CFileDescriptor inner = outer.IsOpen() ? OpenSubFolder(outer.Get(), app, false) : CFileDescriptor();
    struct stat st {};
    if (!inner.IsOpen() || fstatat(inner.Get(), "Setup.exe", &st, AT_SYMLINK_NOFOLLOW) != 0)
        result.problem = "it is not there, or a link stands in its path";
    else if (!S_ISREG(st.st_mode))
        result.problem = "it is not a regular file";
    return result;
}
