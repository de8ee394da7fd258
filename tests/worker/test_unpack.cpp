#include "support/Notices.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

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
        fs::create_directories(Folder());
    }
    fs::path Folder() const { return home.DownloadFolder(); }
    // Archive in the Download folder from "name=data" pairs.
    void Archive(const std::string& name, const std::string& entries)
    {
        RunPython("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n" + entries, Folder() / name);
    }
    std::vector<Notice> Notices() { return WithStatusWhereItMatters(receiver.Take()); }
};

} // namespace

TEST_F(Unpack, ThreeEntriesPostTheExactSequenceAndTheArchiveIsDeleted)
{
    Archive("KEL_V12.zip", "    z.writestr('KEL_V12/a.txt', 'a')\n    z.writestr('KEL_V12/b.txt', 'b')\n"
                           "    z.writestr('KEL_V12/KEL_V12/Setup.exe', 'setup')\n");
    int failed = -1;
    EXPECT_TRUE(worker->UnpackArchive("KEL_V12.zip", nullptr, &failed));
    EXPECT_EQ(failed, 0);
    // Positions are bytes of the recorded sizes (1 + 1 + 5).
    EXPECT_EQ(Notices(), (std::vector<Notice>{P(0, 7), P(0, 7), S("KEL_V12.zip - 1 of 3"), P(1, 7),
                                              S("KEL_V12.zip - 2 of 3"), P(2, 7), S("KEL_V12.zip - 3 of 3"),
                                              P(7, 7)}));
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));
    EXPECT_EQ(ReadFile(Folder() / "KEL_V12/KEL_V12/Setup.exe"), "setup");
}

TEST_F(Unpack, EmptyMissingOrForeignArchivesCountZeroAndAreStillDeleted)
{
    Archive("empty.zip", "    pass\n");
    EXPECT_FALSE(worker->UnpackArchive("empty.zip", nullptr));
    EXPECT_EQ(Notices(), (std::vector<Notice>{P(0, 0), P(0, 0)}));
    EXPECT_FALSE(fs::exists(Folder() / "empty.zip"));

    WriteFile(Folder() / "text.zip", "not a zip");
    EXPECT_FALSE(worker->UnpackArchive("text.zip", "Sub_UPDATE"));
    EXPECT_EQ(Notices(), (std::vector<Notice>{P(0, 0), P(0, 0)}));
    EXPECT_FALSE(fs::exists(Folder() / "text.zip"));
    EXPECT_TRUE(fs::is_directory(Folder() / "Sub_UPDATE"));   // prepared all the same

    EXPECT_FALSE(worker->UnpackArchive("missing.zip", nullptr));
    EXPECT_EQ(Notices().size(), 2u);
}

TEST_F(Unpack, UnsafeNamesDoNothing)
{
    WriteFile(home.path() / "outside.zip", "keep");
    for (const char* name : {"", ".", "..", "../outside.zip", "a/b.zip"})
        EXPECT_FALSE(worker->UnpackArchive(name, nullptr)) << name;
    EXPECT_FALSE(worker->UnpackArchive("x.zip", "../escape"));
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
    EXPECT_TRUE(worker->UnpackArchive("KELUPD01_02.zip", "KEL_V12_UPDATE"));
    EXPECT_EQ(ReadFile(update / "old.txt"), "old");
    EXPECT_EQ(ReadFile(update / "same.txt"), "after");
    EXPECT_EQ(ReadFile(update / "new.txt"), "new");

    // An empty folder from an earlier run is taken away and made again.
    const fs::path empty = Folder() / "KEL_V13_UPDATE";
    fs::create_directories(empty);
    chmod(empty.c_str(), 0500);   // were it kept, nothing could be written into it as a user
    Archive("u.zip", "    z.writestr('f.txt', 'f')\n");
    EXPECT_TRUE(worker->UnpackArchive("u.zip", "KEL_V13_UPDATE"));
    EXPECT_EQ(ReadFile(empty / "f.txt"), "f");
    struct stat st {};
    stat(empty.c_str(), &st);
    EXPECT_NE(st.st_mode & 0777, 0500u);
}

TEST_F(Unpack, ReadOnlyArchiveIsDeletedAndAFailingEntryDoesNotStopTheLoop)
{
    Archive("ro.zip", "    z.writestr('one.txt', '1')\n    z.writestr('../bad.txt', 'x')\n    z.writestr('three.txt', '3')\n");
    chmod((Folder() / "ro.zip").c_str(), 0444);
    int failed = 0;
    EXPECT_TRUE(worker->UnpackArchive("ro.zip", nullptr, &failed));
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(fs::exists(Folder() / "ro.zip"));
    EXPECT_EQ(ReadFile(Folder() / "three.txt"), "3");
    EXPECT_FALSE(fs::exists(home.path() / "bad.txt"));
    EXPECT_EQ(Notices().back(), P(3, 3));
}

TEST_F(Unpack, StopFlagSkipsOrEndsTheUnpackingButStillDeletesTheArchive)
{
    Archive("a.zip", "    z.writestr('one.txt', '1')\n    z.writestr('two.txt', '2')\n");
    worker->RequestStop();
    EXPECT_FALSE(worker->UnpackArchive("a.zip", nullptr));
    EXPECT_TRUE(Notices().empty());
    EXPECT_FALSE(fs::exists(Folder() / "a.zip"));
    EXPECT_FALSE(fs::exists(Folder() / "one.txt"));
}

namespace {

// Stops the worker once a given status is posted, as a window closing then would.
struct StopAtStatus : INotifyReceiver {
    CNotifyChannel& channel;
    CKELDownloadThread& worker;
    std::string status;
    StopAtStatus(CNotifyChannel& c, CKELDownloadThread& w, std::string s) : channel(c), worker(w), status(std::move(s)) {}
    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t) override
    {
        if (message == UM_FILENAME_UPDATE && wParam == kStatusChanged && channel.statusText.Get() == status)
            worker.RequestStop();
    }
};

} // namespace

TEST_F(Unpack, StopDuringALargeEntryRemovesItAndTheArchive)
{
    Archive("big.zip", "    z.writestr('big.bin', b'b' * (32 << 20))\n    z.writestr('after.txt', 'a')\n");
    StopAtStatus stopper(*channel, *worker, "big.zip - 1 of 2");
    channel->Attach(&stopper);
    EXPECT_FALSE(worker->UnpackArchive("big.zip", nullptr));
    EXPECT_FALSE(fs::exists(Folder() / "big.zip"));
    EXPECT_FALSE(fs::exists(Folder() / "after.txt"));
    EXPECT_TRUE(fs::is_empty(Folder()));   // no partial entry, under any name
}

TEST_F(Unpack, AnArchiveThatCannotFitWritesNothingAndFails)
{
    Archive("KEL_V12.zip", "    z.writestr('a.bin', b'a' * 6000)\n    z.writestr('b.bin', b'b' * 5000)\n");
    std::string askedFor;
    worker->m_freeSpace = [&](const std::string& folder) {
        askedFor = folder;
        return std::uint64_t{10999};
    };
    int failed = 0;
    EXPECT_FALSE(worker->UnpackArchive("KEL_V12.zip", "KEL_V12_UPDATE", &failed));
    EXPECT_EQ(failed, 2);
    EXPECT_EQ(askedFor, (Folder() / "KEL_V12_UPDATE").string() + "/");
    EXPECT_EQ(Notices(), (std::vector<Notice>{P(0, 11000), S("KEL_V12.zip - Not Enough Disk Space"), P(11000, 11000)}));
    EXPECT_TRUE(fs::is_empty(Folder() / "KEL_V12_UPDATE"));
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));

    Archive("KEL_V12.zip", "    z.writestr('a.bin', b'a' * 6000)\n    z.writestr('b.bin', b'b' * 5000)\n");
    worker->m_freeSpace = [](const std::string&) { return std::uint64_t{11000}; };   // exactly enough
    EXPECT_TRUE(worker->UnpackArchive("KEL_V12.zip", nullptr));
}

TEST(CreateFolderChain, MakesEveryFolderAndIgnoresWhatCannotBeMade)
{
    TempDir dir;
    CreateFolderChain((dir.path() / "a" / "b" / "c").string());
    EXPECT_TRUE(fs::is_directory(dir.path() / "a/b/c"));
    CreateFolderChain((dir.path() / "a" / "b" / "c").string() + "/");   // already there: fine
    WriteFile(dir.path() / "file", "f");
    CreateFolderChain((dir.path() / "file" / "x").string());            // passed over silently
    EXPECT_FALSE(fs::exists(dir.path() / "file" / "x"));
    CreateFolderChain("rel/x");   // not absolute: nothing
    EXPECT_FALSE(fs::exists("rel"));
}
