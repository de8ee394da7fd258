#include "platform/CFolder.h"
#include "platform/TextCase.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

// A fresh folder, removed at the end (these tests also run on Windows, without the test support library).
class TempDir {
public:
    TempDir()
    {
        std::random_device random;
        m_path = fs::temp_directory_path() / ("vorn-files-" + std::to_string(random()));
        fs::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(m_path, fs::perms::owner_all, ec);
        fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// False where the system makes no links for this user (Windows without the privilege).
bool MakeLinks(const fs::path& dir)
{
    std::error_code ec;
    fs::create_directory_symlink(dir / "real", dir / "folderLink", ec);
    if (!ec)
        fs::create_symlink(dir / "real/file", dir / "fileLink", ec);
    if (!ec)
        fs::create_symlink(dir / "missing", dir / "dangling", ec);
    return !ec;
}

void Put(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Get(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}   // namespace

TEST(Folder, NothingBeneathItIsReachedThroughALink)
{
    TempDir dir;
    fs::create_directory(dir.path() / "real");
    Put(dir.path() / "real/file", "data");
    if (!MakeLinks(dir.path()))
        GTEST_SKIP() << "no links can be made here";
    const CFolder folder = CFolder::OpenPath(dir.path().string(), false);
    ASSERT_TRUE(folder);

    EXPECT_FALSE(folder.OpenFolder("folderLink", true));
    EXPECT_EQ(folder.Stat("fileLink")->kind, FolderEntry::Kind::Other);
    for (const FileOpen how : {FileOpen::Read, FileOpen::ReadWrite, FileOpen::Replace, FileOpen::CreateNew}) {
        const CFile file = folder.OpenFile("fileLink", how);
        EXPECT_FALSE(file);
        EXPECT_NE(file.OpenResult().GetKind(), FileResult::Kind::Ok);
    }
    // A new file is never made at the end of a dangling link.
    EXPECT_EQ(folder.OpenFile("dangling", FileOpen::CreateNew).OpenResult().GetKind(), FileResult::Kind::Exists);
    EXPECT_FALSE(fs::exists(dir.path() / "missing"));
    EXPECT_FALSE(folder.OpenFile("real", FileOpen::Read));   // a folder is no file
    EXPECT_EQ(Get(dir.path() / "real/file"), "data");

    // Removing works on files only: links and folders stay.
    EXPECT_FALSE(folder.RemoveFile("fileLink"));
    EXPECT_FALSE(folder.RemoveFile("real"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "fileLink"));
    EXPECT_FALSE(folder.RemoveEmptyFolder("real"));
    EXPECT_TRUE(fs::exists(dir.path() / "real/file"));
}

TEST(Folder, FilesAreWrittenLockedRenamedAndRemoved)
{
    TempDir dir;
    CFolder folder = CFolder::OpenPath((dir.path() / "a/b").string(), true);
    ASSERT_TRUE(folder);
    {
        const CFile file = folder.OpenFile("x", FileOpen::ReadWrite);
        ASSERT_TRUE(file);
        EXPECT_TRUE(file.WriteAt("world", 5, 6).Ok());
        EXPECT_TRUE(file.WriteAt("hello ", 6, 0).Ok());
        EXPECT_EQ(file.RegularSize(), 11u);
        char back[16] = {};
        EXPECT_EQ(file.ReadAt(back, sizeof back, 6), 5);
        EXPECT_EQ(file.ReadAt(back, sizeof back, 11), 0);
        EXPECT_TRUE(file.SyncData().Ok());
        EXPECT_TRUE(file.Truncate(5).Ok());

        // The lock keeps a second holder (another running copy) away, and
        // with it removal; it goes with the file's close.
        EXPECT_TRUE(file.TryLock());
        const CFile again = folder.OpenFile("x", FileOpen::Read);
        EXPECT_TRUE(again.IsSameFileAs(file));
        EXPECT_FALSE(again.TryLock());
        char head[5] = {};
        EXPECT_EQ(again.ReadAt(head, sizeof head, 0), 5);   // the lock keeps no reader of this process out
        EXPECT_EQ(std::string(head, 5), "hello");
        EXPECT_FALSE(folder.RemoveUnlessLocked("x"));
    }
    EXPECT_EQ(Get(dir.path() / "a/b/x"), "hello");
    EXPECT_EQ(folder.OpenFile("x", FileOpen::CreateNew).OpenResult().GetKind(), FileResult::Kind::Exists);

    EXPECT_TRUE(folder.SetModificationTime("x", 1000000000));
    EXPECT_EQ(
        fs::last_write_time(dir.path() / "a/b/x").time_since_epoch(),
        (fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(1000000000))).time_since_epoch());

    EXPECT_TRUE(folder.Rename("x", "y").Ok());
    EXPECT_EQ(folder.Rename("x", "y").GetKind(), FileResult::Kind::Missing);
    fs::permissions(dir.path() / "a/b/y", fs::perms::owner_read);
    EXPECT_FALSE(folder.Stat("y")->writable);
    EXPECT_TRUE(folder.RemoveUnlessLocked("y"));   // read-only is no reason to stay
    EXPECT_FALSE(fs::exists(dir.path() / "a/b/y"));
    folder = CFolder();   // Windows removes no folder that is open
    EXPECT_TRUE(CFolder::OpenPath(dir.path().string(), false).OpenFolder("a", false).RemoveEmptyFolder("b"));
}

TEST(Folder, PlainNamesAndCaseFreeComparison)
{
    for (const char* bad : {"", ".", "..", "a/b", "/", "a\tb", "a\x7f"})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
    for (const char* good : {"KEL_V12.zip", ".hidden", "a b", "\xc3\xa9.zip"})
        EXPECT_TRUE(IsPlainFileName(good)) << good;

    EXPECT_TRUE(EqualsIgnoringCase("KEL_v12.ZIP", "kel_V12.zip"));
    EXPECT_FALSE(EqualsIgnoringCase("KEL", "KEL_"));
    EXPECT_FALSE(EqualsIgnoringCase("\xc3\xa9", "\xc3\x89"));   // only ASCII letters fold
#ifdef _WIN32
    // Windows reads these as devices, streams, wildcards or trimmed names.
    for (const char* bad : {"CON", "nul.txt", "Com1.zip", "LPT9", "a\\b", "C:x", "a:stream", "a*", "x.", "x "})
        EXPECT_FALSE(IsPlainFileName(bad)) << bad;
    for (const char* good : {"CONSOLE", "COM10", "com.zip", "LPT"})
        EXPECT_TRUE(IsPlainFileName(good)) << good;
#endif
    EXPECT_TRUE(StartsWithIgnoringCase("kel_v7", "KEL_V"));
    EXPECT_FALSE(StartsWithIgnoringCase("KEL", "KEL_V"));
    EXPECT_TRUE(EndsWithIgnoringCase("a.zip.MINISIG", ".minisig"));
    EXPECT_FALSE(EndsWithIgnoringCase("sig", ".minisig"));
}

#ifdef _WIN32
#include "platform/DownloadFolder.h"
#include "platform/ProcessLauncher.h"

TEST(Windows, DownloadFolderAndInstallerStart)
{
    const std::string folder = GetDownloadFolder();
    EXPECT_EQ(folder.substr(1), ":\\VORN Download\\");
    EXPECT_TRUE(CFolder::OpenPath(folder + "probe", true));   // made where a user would look for it
    EXPECT_TRUE(CFolder::OpenPath(folder, false).RemoveEmptyFolder("probe"));

    TempDir dir;
    EXPECT_FALSE(StartWithDefaultAction((dir.path() / "Setup.exe").string(), std::chrono::seconds(5)));
}
#endif

TEST(Folder, AFileRenamedWhileOpenIsStillTheSameFile)
{
    TempDir dir;
    const CFolder folder = CFolder::OpenPath(dir.path().string(), false);
    const CFile part = folder.OpenFile("a.part", FileOpen::ReadWrite);
    ASSERT_TRUE(part.WriteAt("data", 4, 0).Ok());
    ASSERT_TRUE(part.TryLock());
    ASSERT_TRUE(folder.Rename("a.part", "a").Ok());
    const CFile whole = folder.OpenFile("a", FileOpen::Read);
    ASSERT_TRUE(whole) << whole.OpenResult().Text();
    EXPECT_TRUE(whole.IsSameFileAs(part));
    EXPECT_FALSE(whole.IsSameFileAs(folder.OpenFile("a", FileOpen::CreateNew)));
}
