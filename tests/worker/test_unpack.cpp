#include "platform/DownloadFolder.h"
#include "support/Notices.h"
#include "worker/CKELDownloadThread.h"
#include "worker/InstallerPath.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#undef PostMessage   // the receivers' own
#endif

#include <sys/stat.h>

namespace {

struct Unpack : ::testing::Test {
    TempHome home;
    std::shared_ptr<CNotifyChannel> channel = std::make_shared<CNotifyChannel>();
    RecordingReceiver receiver{channel.get()};
    std::unique_ptr<CKELDownloadThread> worker = std::make_unique<CKELDownloadThread>();

    void SetUp() override
    {
        channel->Attach(&receiver);
        worker->Wire(channel);
        worker->m_downloadFolder = home.Folder();
        fs::create_directories(Folder());
    }
    // As after a download: the archive is taken, then unpacked.
    StepResult TakeAndUnpack(const std::string& name, const char* subFolder, int* failed = nullptr)
    {
        worker->TakeArchive(name);
        return worker->UnpackArchive(name, subFolder, failed);
    }
    fs::path Folder() const { return home.DownloadFolder(); }
    // Archive in the Download folder from "name=data" pairs.
    void Archive(const std::string& name, const std::string& entries)
    {
        RunPython("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n" + entries, Folder() / name);
    }
    std::vector<Notice> Notices() { return WithStatusWhereItMatters(receiver.Take()); }
};

}   // namespace

TEST_F(Unpack, ThreeEntriesPostTheExactSequenceAndTheArchiveIsDeleted)
{
    Archive("KEL_V12.zip", "    z.writestr('KEL_V12/a.txt', 'a')\n    z.writestr('KEL_V12/b.txt', 'b')\n"
                           "    z.writestr('KEL_V12/KEL_V12/Setup.exe', 'setup')\n");
    int failed = -1;
    EXPECT_TRUE(TakeAndUnpack("KEL_V12.zip", nullptr, &failed));
    EXPECT_EQ(failed, 0);
    // Positions are bytes of the recorded sizes (1 + 1 + 5).
    EXPECT_EQ(Notices(), (std::vector<Notice>{P(0, 7), P(0, 7), S("KEL_V12.zip - 1 of 3"), P(1, 7),
                                              S("KEL_V12.zip - 2 of 3"), P(2, 7), S("KEL_V12.zip - 3 of 3"), P(7, 7)}));
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));
    EXPECT_EQ(ReadFile(Folder() / "KEL_V12/KEL_V12/Setup.exe"), "setup");
}

TEST_F(Unpack, EmptyMissingOrForeignArchivesCountZeroAndAreStillDeleted)
{
    Archive("empty.zip", "    pass\n");
    EXPECT_FALSE(TakeAndUnpack("empty.zip", nullptr));
    EXPECT_EQ(Notices(), (std::vector<Notice>{P(0, 0), P(0, 0)}));
    EXPECT_FALSE(fs::exists(Folder() / "empty.zip"));

    WriteFile(Folder() / "text.zip", "not a zip");
    EXPECT_FALSE(TakeAndUnpack("text.zip", "Sub_UPDATE"));
    EXPECT_EQ(Notices(), (std::vector<Notice>{P(0, 0), P(0, 0)}));
    EXPECT_FALSE(fs::exists(Folder() / "text.zip"));
    EXPECT_FALSE(fs::exists(Folder() / "Sub_UPDATE"));   // a failed archive leaves the tree as it was

    EXPECT_FALSE(TakeAndUnpack("missing.zip", nullptr));
    EXPECT_TRUE(Notices().empty());   // nothing was taken, so nothing is unpacked
}

TEST_F(Unpack, AnArchiveThatIsNoZipFailsWithAReasonAndIsDeleted)
{
    WriteFile(Folder() / "KEL_V12.zip", "<html>Not Found</html>\n");   // what a server may send instead
    const StepResult result = TakeAndUnpack("KEL_V12.zip", nullptr);
    EXPECT_EQ(result.outcome, StepResult::Outcome::Failed);
    EXPECT_EQ(result.reason, "KEL_V12.zip is not a zip archive");
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));
}

TEST_F(Unpack, UnsafeNamesDoNothing)
{
    WriteFile(home.path() / "outside.zip", "keep");
    for (const char* name : {"", ".", "..", "../outside.zip", "a/b.zip"})
        EXPECT_FALSE(TakeAndUnpack(name, nullptr)) << name;
    EXPECT_FALSE(TakeAndUnpack("x.zip", "../escape"));
    EXPECT_TRUE(Notices().empty());
    EXPECT_EQ(ReadFile(home.path() / "outside.zip"), "keep");
    EXPECT_FALSE(fs::exists(home.path() / "escape"));
}

TEST_F(Unpack, UpdateFolderKeepsOldFilesReplacesSameNamesAndEmptyFolderIsRenewed)
{
    const fs::path update = Folder() / "KEL_V12_UPDATE";
    WriteFile(update / "old.txt", "old");
    WriteFile(update / "same.txt", "before");
    Archive("KELUPD01_02.zip", "    z.writestr('same.txt', 'after')\n    z.writestr('new.txt', 'new')\n");
    EXPECT_TRUE(TakeAndUnpack("KELUPD01_02.zip", "KEL_V12_UPDATE"));
    EXPECT_EQ(ReadFile(update / "old.txt"), "old");
    EXPECT_EQ(ReadFile(update / "same.txt"), "after");
    EXPECT_EQ(ReadFile(update / "new.txt"), "new");

    // An empty folder from an earlier run is taken away and made again.
    const fs::path empty = Folder() / "KEL_V13_UPDATE";
    fs::create_directories(empty);
    chmod(empty.string().c_str(), 0500);   // were it kept, nothing could be written into it as a user
    Archive("u.zip", "    z.writestr('f.txt', 'f')\n");
    EXPECT_TRUE(TakeAndUnpack("u.zip", "KEL_V13_UPDATE"));
    EXPECT_EQ(ReadFile(empty / "f.txt"), "f");
    struct stat st {};
    stat(empty.string().c_str(), &st);
    EXPECT_NE(st.st_mode & 0777, 0500u);
}

TEST_F(Unpack, ReadOnlyArchiveIsDeletedAndAFailingEntryDoesNotStopTheLoop)
{
    Archive("ro.zip",
            "    z.writestr('one.txt', '1')\n    z.writestr('../bad.txt', 'x')\n    z.writestr('three.txt', '3')\n");
    chmod((Folder() / "ro.zip").string().c_str(), 0444);
    int failed = 0;
    const StepResult result = TakeAndUnpack("ro.zip", nullptr, &failed);
    EXPECT_EQ(result.outcome, StepResult::Outcome::Failed);
    EXPECT_EQ(result.reason, "1 of 3 entries of ro.zip could not be unpacked");
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(fs::exists(Folder() / "ro.zip"));
    EXPECT_EQ(ReadFile(Folder() / "three.txt"), "3");
    EXPECT_FALSE(fs::exists(home.path() / "bad.txt"));
    EXPECT_EQ(Notices().back(), P(3, 3));
}

TEST_F(Unpack, StopFlagSkipsOrEndsTheUnpackingAndKeepsTheArchive)
{
    Archive("a.zip", "    z.writestr('one.txt', '1')\n    z.writestr('two.txt', '2')\n");
    worker->RequestStop();
    EXPECT_FALSE(TakeAndUnpack("a.zip", nullptr));
    EXPECT_TRUE(Notices().empty());
    EXPECT_TRUE(fs::exists(Folder() / "a.zip"));   // the next run unpacks it without a download
    EXPECT_FALSE(fs::exists(Folder() / "one.txt"));
    // Still held until the worker ends: another copy cannot take it meanwhile.
    CKELDownloadThread other;
    other.m_downloadFolder = worker->m_downloadFolder;
    EXPECT_FALSE(other.TakeArchive("a.zip"));
    worker.reset();
    EXPECT_TRUE(other.TakeArchive("a.zip"));
}

namespace {

// Stops the worker once a given status is posted, as a window closing then would.
struct StopAtStatus : INotifyReceiver {
    CNotifyChannel& channel;
    CKELDownloadThread& worker;
    std::string status;
    StopAtStatus(CNotifyChannel& c, CKELDownloadThread& w, std::string s) : channel(c), worker(w), status(std::move(s))
    {}
    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t) override
    {
        if (message == UM_FILENAME_UPDATE && wParam == kStatusChanged && channel.statusText.Get() == status)
            worker.RequestStop();
    }
};

}   // namespace

TEST_F(Unpack, StopDuringALargeEntryRemovesItAndKeepsTheArchive)
{
    Archive("big.zip", "    z.writestr('big.bin', b'b' * (32 << 20))\n    z.writestr('after.txt', 'a')\n");
    StopAtStatus stopper(*channel, *worker, "big.zip - 1 of 2");
    channel->Attach(&stopper);
    EXPECT_FALSE(TakeAndUnpack("big.zip", nullptr));
    EXPECT_FALSE(fs::exists(Folder() / "after.txt"));
    // No partial entry, under any name: only the complete archive is left.
    ASSERT_EQ(std::distance(fs::directory_iterator(Folder()), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(Folder() / "big.zip"));
}

// Entries stay in the hidden staging folder until the archive is unpacked:
// a stop after the first leaves the earlier tree as it was and no staging
// folder; an archive unpacked whole replaces files one by one and moves a
// new folder in whole; no entry can reach the staging folder's name.
TEST_F(Unpack, EntriesAppearOnlyWhenTheArchiveIsUnpackedWhole)
{
    WriteFile(Folder() / "KEL/old.txt", "old");
    WriteFile(Folder() / "KEL/keep.txt", "keep");
    Archive("s.zip", "    z.writestr('KEL/old.txt', 'new')\n    z.writestr('New/a.txt', 'a')\n"
                     "    z.writestr('.vorndownload-UNPACKING/x.txt', 'x')\n");
    int failed = 0;
    EXPECT_FALSE(TakeAndUnpack("s.zip", nullptr, &failed));
    EXPECT_EQ(failed, 1);   // the entry at the staging folder's name
    EXPECT_EQ(ReadFile(Folder() / "KEL/old.txt"), "new");
    EXPECT_EQ(ReadFile(Folder() / "KEL/keep.txt"), "keep");
    EXPECT_EQ(ReadFile(Folder() / "New/a.txt"), "a");
    EXPECT_FALSE(fs::exists(Folder() / ".VORNdownload-unpacking"));

    Archive("t.zip", "    z.writestr('KEL/old.txt', 'newer')\n    z.writestr('Newer/b.txt', 'b')\n"
                     "    z.writestr('big.bin', b'b' * (32 << 20))\n");
    // Stopped at the last entry, when the others are written: into the
    // staging folder, which file managers do not show.
    struct StopAndLook : StopAtStatus {
        using StopAtStatus::StopAtStatus;
        fs::path staging;
        bool staged = false;
        bool hidden = false;
        void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override
        {
            if (message == UM_FILENAME_UPDATE && channel.statusText.Get() == status) {
                staged = fs::exists(staging / "KEL/old.txt") && fs::exists(staging / "Newer/b.txt");
#ifdef _WIN32
                hidden = (GetFileAttributesW(staging.wstring().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
#else
                hidden = staging.filename().string().front() == '.';
#endif
            }
            StopAtStatus::PostMessage(message, wParam, lParam);
        }
    } stopper(*channel, *worker, "t.zip - 3 of 3");
    stopper.staging = Folder() / ".VORNdownload-unpacking";
    channel->Attach(&stopper);
    EXPECT_EQ(TakeAndUnpack("t.zip", nullptr).outcome, StepResult::Outcome::Stopped);
    EXPECT_TRUE(stopper.staged);
    EXPECT_TRUE(stopper.hidden);
    EXPECT_EQ(ReadFile(Folder() / "KEL/old.txt"), "new");
    EXPECT_FALSE(fs::exists(Folder() / "Newer"));
    EXPECT_FALSE(fs::exists(Folder() / ".VORNdownload-unpacking"));
}

TEST_F(Unpack, AnArchiveThatCannotFitWritesNothingAndFails)
{
    for (const int from : {1000, 1}) {   // unpacked one entry after another, or by two unzippers
        worker->m_twoUnzippersFrom = from;
        Archive("KEL_V12.zip", "    z.writestr('a.bin', b'a' * 6000)\n    z.writestr('b.bin', b'b' * 5000)\n");
        bool askedForUpdate = false;
        worker->m_freeSpace = [&](const CFolder& folder) {
            folder.OpenFile(".probe", FileOpen::CreateNew);
            askedForUpdate = fs::exists(Folder() / ".VORNdownload-unpacking/KEL_V12_UPDATE/.probe");
            folder.RemoveFile(".probe");
            return FreeRoom{10999, 100};
        };
        int failed = 0;
        EXPECT_EQ(TakeAndUnpack("KEL_V12.zip", "KEL_V12_UPDATE", &failed).outcome, StepResult::Outcome::WriteFailed);
        EXPECT_EQ(failed, 2);
        EXPECT_TRUE(askedForUpdate);   // the room where the entries go, on the Download folder's volume
        EXPECT_EQ(Notices(),
                  (std::vector<Notice>{P(0, 11000), S("KEL_V12.zip - Not Enough Disk Space"), P(11000, 11000)}));
        EXPECT_FALSE(fs::exists(Folder() / "KEL_V12_UPDATE"));
        EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));

        // Room for the bytes but not for two more files: the same.
        Archive("KEL_V12.zip", "    z.writestr('a.bin', b'a' * 6000)\n    z.writestr('b.bin', b'b' * 5000)\n");
        worker->m_freeSpace = [](const CFolder&) { return FreeRoom{UINT64_MAX, 1}; };
        EXPECT_FALSE(TakeAndUnpack("KEL_V12.zip", nullptr));
        EXPECT_EQ(Notices(),
                  (std::vector<Notice>{P(0, 11000), S("KEL_V12.zip - Not Enough Disk Space"), P(11000, 11000)}));
        EXPECT_FALSE(fs::exists(Folder() / "a.bin"));

        Archive("KEL_V12.zip", "    z.writestr('a.bin', b'a' * 6000)\n    z.writestr('b.bin', b'b' * 5000)\n");
        worker->m_freeSpace = [](const CFolder&) { return FreeRoom{11000, 2}; };   // exactly enough
        EXPECT_TRUE(TakeAndUnpack("KEL_V12.zip", nullptr));
        fs::remove(Folder() / "a.bin");
        fs::remove(Folder() / "b.bin");
        receiver.Take();
    }
}

TEST_F(Unpack, NothingOutsideTheDownloadFolderIsWrittenOrUnpacked)
{
    // A link standing where the update folder goes is neither followed nor removed.
    const bool links = CanMakeLinks();
    if (links) {
        TempDir marker;
        fs::create_directory_symlink(marker.path(), Folder() / "KEL_V5_UPDATE");
        Archive("u.zip", "    z.writestr('f.txt', 'f')\n");
        int failed = 0;
        EXPECT_EQ(TakeAndUnpack("u.zip", "KEL_V5_UPDATE", &failed).outcome, StepResult::Outcome::Failed);
        EXPECT_EQ(failed, 1);   // the one folder that could not take its place
        EXPECT_TRUE(fs::is_empty(marker.path()));
        EXPECT_TRUE(fs::is_symlink(Folder() / "KEL_V5_UPDATE"));

        // A link at the archive's name is not taken, so what it points at is not unpacked.
        RunPython("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n    z.writestr('g.txt', 'g')\n",
                  marker.path() / "elsewhere.zip");
        fs::create_symlink(marker.path() / "elsewhere.zip", Folder() / "KEL_V5.zip");
        EXPECT_FALSE(TakeAndUnpack("KEL_V5.zip", nullptr));
        EXPECT_FALSE(fs::exists(Folder() / "g.txt"));
        EXPECT_TRUE(fs::exists(marker.path() / "elsewhere.zip"));
    }

    // Nor is a file put in place of the one that was taken.
    Archive("a.zip", "    z.writestr('one.txt', '1')\n");
    ASSERT_TRUE(worker->TakeArchive("a.zip"));
    Archive("b.zip", "    z.writestr('two.txt', '2')\n");
#ifdef _WIN32
    // Windows refuses to put anything in place of a file while it is taken.
    std::error_code refused;
    fs::rename(Folder() / "b.zip", Folder() / "a.zip", refused);
    EXPECT_TRUE(refused);
    worker->TakeArchive("none");   // lets the file go
#else
    fs::rename(Folder() / "b.zip", Folder() / "a.zip");
    EXPECT_FALSE(worker->UnpackArchive("a.zip", nullptr));
    EXPECT_FALSE(fs::exists(Folder() / "two.txt"));
#endif

    // The Download folder itself is never taken away or given another mode.
    fs::remove_all(Folder());
    fs::create_directory(Folder());
    chmod(Folder().string().c_str(), 0555);
    EXPECT_FALSE(TakeAndUnpack("x.zip", nullptr));
    struct stat st {};
    ASSERT_EQ(stat(Folder().string().c_str(), &st), 0);
#ifndef _WIN32   // a Windows folder has no mode, and under Wine not even the read-only mark holds
    EXPECT_EQ(st.st_mode & 0777, 0555u);
#endif
    if (!links)
        GTEST_SKIP() << "the links were not tried: no symbolic links can be made here";
}

TEST_F(Unpack, AnEntryNothingDecodesIsNamedWritesNothingAndKeepsTheArchive)
{
    for (const int from : {1000, 1}) {
        worker->m_twoUnzippersFrom = from;
        // The second entry is marked PPMd after writing (local header at 0, central record after the data).
        Archive("KEL_V12.zip", "    z.writestr('a.txt', 'a' * 100)\n"
                               "    z.writestr(zipfile.ZipInfo('KEL/b.dat'), 'b')\n"
                               "import struct\nb = bytearray(open(sys.argv[1], 'rb').read())\n"
                               "at = b.rfind(b'PK\\x01\\x02')\nb[at + 10:at + 12] = struct.pack('<H', 98)\n"
                               "at = b.rfind(b'PK\\x03\\x04', 0, at)\nb[at + 8:at + 10] = struct.pack('<H', 98)\n"
                               "open(sys.argv[1], 'wb').write(b)\n");
        int failed = 0;
        EXPECT_FALSE(TakeAndUnpack("KEL_V12.zip", nullptr, &failed));
        EXPECT_EQ(failed, 2);
        EXPECT_EQ(Notices(),
                  (std::vector<Notice>{P(0, 101), S("KEL_V12.zip - KEL/b.dat: Unsupported Compression (PPMd)"),
                                       P(101, 101)}));
        EXPECT_TRUE(fs::exists(Folder() / "KEL_V12.zip"));   // a newer build can unpack it without a new download
        EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), fs::directory_iterator()), 1);
    }
}

// Two unzippers share a whole archive of many entries: every entry lands
// where one unzipper puts it, a bad name fails alone, "i of n" rises to the
// last entry and the bar never goes back.
TEST_F(Unpack, AWholeArchiveOfManyEntriesIsSharedByTwoUnzippers)
{
    worker->m_twoUnzippersFrom = 2;
    Archive("u.zip", "    for i in range(300):\n"
                     "        z.writestr('d%d/f%03d.txt' % (i % 7, i), str(i) * 100)\n"
                     "    z.writestr('../bad.txt', 'x')\n");
    int failed = 0;
    const StepResult result = TakeAndUnpack("u.zip", "KEL_V12_UPDATE", &failed);
    EXPECT_EQ(result.reason, "1 of 301 entries of u.zip could not be unpacked");
    EXPECT_EQ(failed, 1);
    int same = 0;
    for (int i = 0; i < 300; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "d%d/f%03d.txt", i % 7, i);
        std::string expected;
        for (int k = 0; k < 100; ++k)
            expected += std::to_string(i);
        same += ReadFile(Folder() / "KEL_V12_UPDATE" / name) == expected ? 1 : 0;
    }
    EXPECT_EQ(same, 300);
    EXPECT_FALSE(fs::exists(home.path() / "bad.txt"));
    EXPECT_FALSE(fs::exists(Folder() / ".VORNdownload-unpacking"));
    const std::vector<Notice> notices = Notices();
    ASSERT_FALSE(notices.empty());
    const std::int64_t range = notices.front().lParam;
    EXPECT_EQ(notices.front(), P(0, range));
    EXPECT_EQ(notices.back(), P(static_cast<std::uint64_t>(range), range));
    std::uint64_t position = 0;
    int entry = 0;
    for (const Notice& n : notices) {
        if (n.message == UM_PROGRESS_BAR) {
            EXPECT_GE(n.wParam, position);
            position = n.wParam;
        } else if (int at = 0, count = 0; std::sscanf(n.status.c_str(), "u.zip - %d of %d", &at, &count) == 2) {
            EXPECT_GT(at, entry);
            EXPECT_EQ(count, 301);
            entry = at;
        }
    }
    EXPECT_EQ(entry, 301);
}

TEST(FolderChain, MakesEveryFolderAndRefusesWhatCannotBeMade)
{
    TempDir dir;
    EXPECT_TRUE(CFolder::OpenPath((dir.path() / "a" / "b" / "c").string(), true).IsOpen());
    EXPECT_TRUE(fs::is_directory(dir.path() / "a/b/c"));
    EXPECT_TRUE(CFolder::OpenPath((dir.path() / "a" / "b" / "c").string() + "/", true).IsOpen());   // already there
    WriteFile(dir.path() / "file", "f");
    EXPECT_FALSE(CFolder::OpenPath((dir.path() / "file" / "x").string(), true).IsOpen());
    EXPECT_FALSE(fs::exists(dir.path() / "file" / "x"));
    EXPECT_FALSE(CFolder::OpenPath("rel/x", true).IsOpen());   // not absolute: nothing
    EXPECT_FALSE(fs::exists("rel"));
    EXPECT_FALSE(CFolder::OpenPath((dir.path() / "missing").string(), false).IsOpen());

    // Below an open folder a link is never followed, not even to make a folder.
    if (!CanMakeLinks())
        GTEST_SKIP() << "no symbolic links can be made here";
    const CFolder base = CFolder::OpenPath(dir.path().string(), false);
    fs::create_directory_symlink(dir.path() / "a", dir.path() / "link");
    EXPECT_FALSE(base.OpenFolder("link", true).IsOpen());
    EXPECT_TRUE(base.OpenFolder("new", true).IsOpen());
    EXPECT_TRUE(fs::is_directory(dir.path() / "new"));
}

TEST(InstallerPath, OnlyAPlainNameReachedWithoutLinks)
{
    TempHome home;
    const std::string folder = home.Folder();
    WriteFile(home.DownloadFolder() / "KEL_V12/KEL_V12/Setup.exe", "s");
    const InstallerPath good = FindInstaller(folder, "KEL_V12");
    // In the system's own separators: the path goes to its shell.
    EXPECT_EQ(good.path, folder + "KEL_V12" + kFolderSeparator + "KEL_V12" + kFolderSeparator + "Setup.exe");
    EXPECT_EQ(good.problem, "");

    // ".." would name "<home>/Setup.exe"; a control character no real name has.
    WriteFile(home.path() / "Setup.exe", "outside");
    EXPECT_NE(FindInstaller(folder, "..").problem, "");
    EXPECT_NE(FindInstaller(folder, "KEL\x1b").problem, "");

    // A link at "<app>" leads out of the Download folder.
    if (!CanMakeLinks())
        GTEST_SKIP() << "no symbolic links can be made here";
    TempDir outside;
    WriteFile(outside.path() / "KEL_V13/Setup.exe", "outside");
    fs::create_directory_symlink(outside.path(), home.DownloadFolder() / "KEL_V13");
    EXPECT_NE(FindInstaller(folder, "KEL_V13").problem, "");
    fs::create_directories(home.DownloadFolder() / "KEL_V14/KEL_V14");
    fs::create_symlink(home.path() / "Setup.exe", home.DownloadFolder() / "KEL_V14/KEL_V14/Setup.exe");
    EXPECT_NE(FindInstaller(folder, "KEL_V14").problem, "");
}
