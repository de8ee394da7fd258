#include "platform/CFolder.h"
#include "support/TestSupport.h"
#include "unzip/CArrivingBytes.h"
#include "unzip/CUnzipper.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <future>
#include <random>
#include <thread>

namespace {

// Builds an archive with Python's zipfile. `body` adds entries to `z`;
// helpers: add(name, data, method=DEFLATED, date=(2020,5,17,13,45,30), mode=None, folder=False, extra=b"").
fs::path MakeZip(const fs::path& dir, const std::string& name, const std::string& body)
{
    const fs::path out = dir / name;
    RunPython(R"(import sys, zipfile
def add(name, data=b"", method=zipfile.ZIP_DEFLATED, date=(2020,5,17,13,45,30), mode=None, folder=False, extra=b""):
    info = zipfile.ZipInfo(name, date_time=date)
    info.compress_type = method
    info.extra = extra
    info.create_system = 0
    if mode is not None:
        info.create_system = 3
        info.external_attr = mode << 16
    if folder:
        info.external_attr |= 0x10
    z.writestr(info, data)
with zipfile.ZipFile(sys.argv[1], "w") as z:
)" + body,
              out);
    return out;
}

// Rewrites an entry's method, recorded size and CRC (None keeps it) in its
// local header and central record alike: data written stored can so pass for
// any method, and sizes can lie.
void PatchEntry(const fs::path& zip, const std::string& name, const std::string& method, const std::string& size,
                const std::string& crc = "None")
{
    RunPython("import struct, sys, zipfile\n"
              "path, name, method, size, crc = sys.argv[1], '" +
                  name + "', " + method + ", " + size + ", " + crc + "\n" +
                  R"(info = zipfile.ZipFile(path).getinfo(name)
b = bytearray(open(path, 'rb').read())
def patch(at, m, c, s):
    if method is not None: b[at + m:at + m + 2] = struct.pack('<H', method)
    if crc is not None: b[at + c:at + c + 4] = struct.pack('<I', crc)
    if size is not None: b[at + s:at + s + 4] = struct.pack('<I', size)
patch(info.header_offset, 8, 14, 22)
at = b.find(b'PK\x01\x02')
while at >= 0:
    n = struct.unpack('<H', b[at + 28:at + 30])[0]
    if b[at + 46:at + 46 + n] == name.encode(): patch(at, 10, 16, 24)
    at = b.find(b'PK\x01\x02', at + 4)
open(path, 'wb').write(b)
)",
              zip);
}

// Runs 7-Zip's command line in `dir`; true when it succeeded.
bool SevenZip(const fs::path& dir, const std::string& arguments)
{
    return RunCommand("cd '" + dir.string() + "' && 7zz " + arguments + " >/dev/null") == 0;
}

std::string Mode(const fs::path& p)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(fs::symlink_status(p).permissions()) & 07777u);
    return text;
}

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s)
{
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

std::time_t ModifiedAt(const fs::path& p)
{
    struct stat st {};
    stat(p.string().c_str(), &st);
    return st.st_mtime;
}

// Extracts every entry; returns the results in order.
std::vector<bool> ExtractAll(CUnzipper& u, const char* folder = nullptr)
{
    std::vector<bool> results;
    const int n = u.GetEntryCount();
    for (int i = 0; i < n; ++i) {
        results.push_back(u.ExtractEntry(folder, false));
        u.GoToNextEntry();
    }
    return results;
}

struct UnzipTest : ::testing::Test {
    TempDir dir;
    fs::path out() const { return dir.path() / "out"; }
};

}   // namespace

TEST_F(UnzipTest, FoldersNestedNamesStoredAndDeflatedEntries)
{
    const auto zip = MakeZip(dir.path(), "Pack.zip", R"(
    add("docs/readme.txt", b"read me")
    add("empty/", folder=True)
    add("a/b/c.bin", bytes(range(256)) * 1000, method=zipfile.ZIP_STORED)
    add("a/b/d.txt", b"x" * 100000)
)");
    CUnzipper u(zip.string().c_str());
    EXPECT_EQ(u.GetTargetFolder(), (dir.path() / "Pack").string());
    ASSERT_EQ(u.GetEntryCount(), 4);
    ASSERT_TRUE(u.SetTargetFolder(out().string().c_str()));
    EXPECT_EQ(ExtractAll(u), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(ReadFile(out() / "docs/readme.txt"), "read me");
    EXPECT_TRUE(fs::is_directory(out() / "empty"));
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        for (int b = 0; b < 256; ++b)
            bytes += static_cast<char>(b);
    EXPECT_EQ(ReadFile(out() / "a/b/c.bin"), bytes);
    EXPECT_EQ(ReadFile(out() / "a/b/d.txt"), std::string(100000, 'x'));
}

TEST_F(UnzipTest, EntryRecordGoToNextAndExtensionFilter)
{
    const auto zip = MakeZip(dir.path(), "r.zip", R"(
    add("one.txt", b"1")
    add("two.dat", b"22", method=zipfile.ZIP_STORED)
    add("three.TXT", b"333")
    add("noext", b"4")
)");
    CUnzipper u(zip.string().c_str());
    ZipEntryInfo info;
    ASSERT_TRUE(u.GetEntryInfo(info));
    EXPECT_STREQ(info.name, "one.txt");
    EXPECT_EQ(info.uncompressedSize, 1u);
    EXPECT_EQ(info.compressionMethod, 8u);
    EXPECT_EQ(info.dosDateTime >> 16, ((2020u - 1980u) << 9) | (5u << 5) | 17u);
    EXPECT_EQ(info.dosDateTime & 0xFFFF, (13u << 11) | (45u << 5) | 15u);
    EXPECT_FALSE(info.isFolder);
    // The filter never tests the current entry and ignores case.
    ASSERT_TRUE(u.GoToNextEntry("txt"));
    ASSERT_TRUE(u.GetEntryInfo(info));
    EXPECT_STREQ(info.name, "three.TXT");
    EXPECT_FALSE(u.GoToNextEntry("txt"));
    // Past the last entry the last one stays current.
    EXPECT_FALSE(u.GoToNextEntry());
    ASSERT_TRUE(u.GetEntryInfo(info));
    EXPECT_STREQ(info.name, "noext");
    // Any entry by its index; one past the last changes nothing.
    ASSERT_TRUE(u.GoToEntry(1));
    EXPECT_FALSE(u.GoToEntry(4));
    ASSERT_TRUE(u.GetEntryInfo(info));
    EXPECT_STREQ(info.name, "two.dat");
}

TEST_F(UnzipTest, ClosedEmptyDamagedTruncatedAndForeignArchives)
{
    CUnzipper closed;
    ZipEntryInfo info;
    EXPECT_FALSE(closed.CloseArchive());
    EXPECT_EQ(closed.GetEntryCount(), 0);
    EXPECT_FALSE(closed.GetEntryInfo(info));
    EXPECT_FALSE(closed.GoToNextEntry());
    EXPECT_FALSE(closed.ExtractEntry(out().string().c_str()));
    EXPECT_FALSE(closed.OpenArchive(nullptr));
    EXPECT_FALSE(closed.OpenArchive((dir.path() / "missing.zip").string().c_str()));
    EXPECT_EQ(closed.GetTargetFolder(), "");

    const auto empty = MakeZip(dir.path(), "empty.zip", "    pass\n");
    CUnzipper e(empty.string().c_str());
    EXPECT_EQ(e.GetEntryCount(), 0);
    EXPECT_FALSE(e.GoToNextEntry());

    WriteFile(dir.path() / "text.zip", "this is not a zip archive\n");
    EXPECT_FALSE(closed.OpenArchive((dir.path() / "text.zip").string().c_str()));

    // Truncated: the central directory at the end is gone.
    const auto whole = MakeZip(dir.path(), "whole.zip", "    add('f.bin', __import__('os').urandom(200000))\n");
    const std::string bytes = ReadFile(whole);
    WriteFile(dir.path() / "cut.zip", bytes.substr(0, bytes.size() / 2));
    EXPECT_FALSE(closed.OpenArchive((dir.path() / "cut.zip").string().c_str()));

    // Damaged: the compressed data is overwritten; the directory still reads.
    std::string damaged = bytes;
    for (std::size_t i = 60; i < 400; ++i)
        damaged[i] = static_cast<char>(0xA5);
    WriteFile(dir.path() / "damaged.zip", damaged);
    CUnzipper d((dir.path() / "damaged.zip").string().c_str());
    ASSERT_EQ(d.GetEntryCount(), 1);
    EXPECT_FALSE(d.ExtractEntry(out().string().c_str()));
    EXPECT_TRUE(fs::is_empty(out()));   // nothing half-written left behind
}

TEST_F(UnzipTest, DataEndingBeforeItsRecordedSizeFails)
{
    // A deflate stream that ends early: minizip skips its CRC check then.
    const auto zip = MakeZip(dir.path(), "short.zip", "    add('s.txt', b'0123456789' * 1000)\n");
    std::string bytes = ReadFile(zip);
    // Patch the recorded uncompressed size, in the local header (offset 22) and
    // the central record (offset 24) alike, to be larger than the data.
    const auto central = bytes.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    ASSERT_EQ(bytes.find("PK\x03\x04"), 0u);
    bytes[22 + 1] = static_cast<char>(bytes[22 + 1] + 1);
    bytes[central + 24 + 1] = static_cast<char>(bytes[central + 24 + 1] + 1);
    WriteFile(zip, bytes);
    CUnzipper u(zip.string().c_str());
    EXPECT_FALSE(u.ExtractEntry(out().string().c_str()));
}

TEST_F(UnzipTest, ChecksumMismatchFailsTheEntryAndSetsNoTime)
{
    const auto zip = MakeZip(dir.path(), "crc.zip", R"(
    add("ok.txt", b"fine", method=zipfile.ZIP_STORED)
    add("bad.txt", b"ABCDEFGHIJ", method=zipfile.ZIP_STORED)
)");
    std::string bytes = ReadFile(zip);
    const auto at = bytes.find("ABCDEFGHIJ");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 3] = 'x';   // stored data no longer matches its CRC
    WriteFile(zip, bytes);
    CUnzipper u(zip.string().c_str());
    // An older file of the same name stays whole: a failed entry never replaces it.
    WriteFile(out() / "bad.txt", "from an earlier run");
    EXPECT_EQ(ExtractAll(u, out().string().c_str()), (std::vector<bool>{true, false}));
    EXPECT_EQ(ReadFile(out() / "bad.txt"), "from an earlier run");
    EXPECT_EQ(ModifiedAt(out() / "ok.txt"), LocalTime(2020, 5, 17, 13, 45, 30));
    EXPECT_EQ(fs::directory_iterator(out())->path().filename().string().rfind(".vorn", 0), std::string::npos);
}

// Traditional encryption from Info-ZIP and AES written by libzip: the right
// password extracts; a wrong or missing one fails and leaves nothing behind.
// 7-Zip's AES entries (AE-2, no CRC stored) are refused by Debian's libzip
// 1.7.3 at their end, which must leave nothing behind either.
TEST_F(UnzipTest, PasswordProtectedEntries)
{
    const fs::path src = dir.path() / "src";
    const std::string secret = PatternBytes(50000);
    WriteFile(src / "secret.txt", secret);
    const std::string cd = "cd '" + src.string() + "' && ";
    ASSERT_EQ(RunCommand(cd + "zip -q -P hunter2 ../trad.zip secret.txt"), 0);
    ASSERT_EQ(RunCommand(cd + "7zz a -bso0 -bsp0 -tzip -phunter2 -mem=AES256 ../7z-aes.zip secret.txt"), 0);
    int error = 0;
    zip_t* writer = zip_open((dir.path() / "aes.zip").string().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(writer, nullptr);
    const zip_int64_t index =
        zip_file_add(writer, "secret.txt", zip_source_buffer(writer, secret.data(), secret.size(), 0), 0);
    ASSERT_EQ(zip_file_set_encryption(writer, static_cast<zip_uint64_t>(index), ZIP_EM_AES_256, "hunter2"), 0);
    ASSERT_EQ(zip_close(writer), 0);

    for (const char* archive : {"trad.zip", "aes.zip", "7z-aes.zip"}) {
        SCOPED_TRACE(archive);
        fs::remove_all(out());
        CUnzipper u((dir.path() / archive).string().c_str());
        EXPECT_FALSE(u.ExtractEntry(out().string().c_str(), false, nullptr));
        EXPECT_FALSE(u.ExtractEntry(out().string().c_str(), false, "wrong"));
        EXPECT_TRUE(fs::is_empty(out()));
        if (std::string(archive) == "7z-aes.zip") {
            EXPECT_FALSE(u.ExtractEntry(out().string().c_str(), false, "hunter2"));
            EXPECT_TRUE(fs::is_empty(out()));
            continue;
        }
        ASSERT_TRUE(u.ExtractEntry(out().string().c_str(), false, "hunter2"));
        EXPECT_EQ(ReadFile(out() / "secret.txt"), secret);
    }
}

TEST_F(UnzipTest, NamesThatLeaveTheFolderAreRefusedAndWriteNothing)
{
    const auto zip = MakeZip(dir.path(), "evil.zip", R"(
    add("../up.txt", b"up")
    add("a/../../up2.txt", b"up")
    add("/abs.txt", b"abs")
    add("C:/drive.txt", b"drive")
    add("../upfolder/", folder=True)
    add("fine/./ok.txt", b"ok")
)");
    CUnzipper u(zip.string().c_str());
    const fs::path target = dir.path() / "t" / "in";
    EXPECT_EQ(ExtractAll(u, target.string().c_str()), (std::vector<bool>{false, false, false, false, false, true}));
    EXPECT_EQ(ReadFile(target / "fine/ok.txt"), "ok");
    EXPECT_FALSE(fs::exists(dir.path() / "t" / "up.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "up2.txt"));
    EXPECT_FALSE(fs::exists("/abs.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "t" / "upfolder"));
#ifdef _WIN32
    EXPECT_FALSE(fs::exists("C:/drive.txt"));   // no file can be named "C:" here
#else
    EXPECT_FALSE(fs::exists(target / "C:"));
#endif
}

TEST_F(UnzipTest, LinksOnDiskAndInTheArchiveNeverRedirectWrites)
{
    const auto zip = MakeZip(dir.path(), "links.zip", R"(
    add("link", b"/etc/passwd", mode=0o120777)
    add("via/file.txt", b"through")
    add("over.txt", b"new")
)");
    const fs::path target = out();
    fs::create_directories(target);
    fs::create_directories(dir.path() / "elsewhere");
    WriteFile(dir.path() / "victim.txt", "keep");
    if (!CanMakeLinks())
        GTEST_SKIP() << "no symbolic links can be made here";
    fs::create_directory_symlink(dir.path() / "elsewhere", target / "via");
    fs::create_symlink(dir.path() / "victim.txt", target / "over.txt");
    CUnzipper u(zip.string().c_str());
    EXPECT_EQ(ExtractAll(u, target.string().c_str()), (std::vector<bool>{true, false, false}));
    // A link entry becomes a plain file holding the link text.
    EXPECT_FALSE(fs::is_symlink(target / "link"));
    EXPECT_EQ(ReadFile(target / "link"), "/etc/passwd");
    EXPECT_FALSE(fs::exists(dir.path() / "elsewhere" / "file.txt"));
    EXPECT_EQ(ReadFile(dir.path() / "victim.txt"), "keep");
}

TEST_F(UnzipTest, LongNamesAreKeptUpTo260AndRefusedBeyond)
{
    const std::string name260 = std::string(100, 'd') + "/" + std::string(100, 'e') + "/" + std::string(58, 'f');
    const std::string name300 = std::string(100, 'd') + "/" + std::string(100, 'g') + "/" + std::string(98, 'h');
    ASSERT_EQ(name260.size(), 260u);
    ASSERT_EQ(name300.size(), 300u);
    const auto zip =
        MakeZip(dir.path(), "long.zip", "    add('" + name260 + "', b'260')\n    add('" + name300 + "', b'300')\n");
    CUnzipper u(zip.string().c_str());
    ZipEntryInfo info;
    ASSERT_TRUE(u.GetEntryInfo(info));
    EXPECT_EQ(std::string(info.name), name260);
    EXPECT_TRUE(u.ExtractEntry(out().string().c_str()));
    EXPECT_EQ(ReadFile(out() / name260), "260");
    ASSERT_TRUE(u.GoToNextEntry());
    ASSERT_TRUE(u.GetEntryInfo(info));
    EXPECT_EQ(std::string(info.name), name300.substr(0, 260));   // cut in the record
    // Never written under a cut name.
    EXPECT_FALSE(u.ExtractEntry(out().string().c_str()));
    EXPECT_FALSE(fs::exists(out() / name300.substr(0, 260)));
}

TEST_F(UnzipTest, FileTimesAndUnixPermissionsAreRestored)
{
    const auto zip = MakeZip(dir.path(), "unix.zip", R"(
    add("setup.sh", b"#!/bin/sh\n", mode=0o100755, date=(2019,12,31,23,59,58))
    add("suid", b"x", mode=0o104755)
    add("readonly.txt", b"r", mode=0o100444)
    add("dos.txt", b"d", date=(1980,1,1,0,0,0))
)");
#ifdef _WIN32
    // Windows keeps no Unix mode, only a read-only mark, and no file comes out with it.
    const auto expected = [](unsigned) { return std::string("0666"); };
#else
    const auto mask = umask(022);
    umask(mask);
    auto expected = [&](unsigned m) {
        char t[8];
        std::snprintf(t, sizeof t, "%04o", m & ~mask);
        return std::string(t);
    };
#endif
    CUnzipper u(zip.string().c_str());
    EXPECT_EQ(ExtractAll(u, out().string().c_str()), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(Mode(out() / "setup.sh"), expected(0755));
    EXPECT_EQ(Mode(out() / "suid"), expected(0755));           // never setuid
    EXPECT_EQ(Mode(out() / "readonly.txt"), expected(0644));   // the next run can still replace it
    EXPECT_EQ(Mode(out() / "dos.txt"), expected(0644));        // no Unix mode recorded
    EXPECT_EQ(ModifiedAt(out() / "setup.sh"), LocalTime(2019, 12, 31, 23, 59, 58));
    EXPECT_EQ(ModifiedAt(out() / "dos.txt"), LocalTime(1980, 1, 1, 0, 0, 0));

    // A second extraction replaces the files and sets the time again.
    WriteFile(out() / "dos.txt", "changed");
    CUnzipper again(zip.string().c_str());
    EXPECT_EQ(ExtractAll(again, out().string().c_str()), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(ReadFile(out() / "dos.txt"), "d");
    EXPECT_EQ(ModifiedAt(out() / "dos.txt"), LocalTime(1980, 1, 1, 0, 0, 0));

    EXPECT_TRUE(CUnzipper::SetTimesFromDos((out() / "dos.txt").string().c_str(),
                                           (40u << 25) | (6u << 21) | (15u << 16) | (8u << 11)));
    EXPECT_EQ(ModifiedAt(out() / "dos.txt"), LocalTime(2020, 6, 15, 8, 0, 0));
    EXPECT_FALSE(CUnzipper::SetTimesFromDos((out() / "missing").string().c_str(), 0x21));
    EXPECT_FALSE(CUnzipper::SetTimesFromDos((out() / "dos.txt").string().c_str(), 0));   // month 0 is no date
}

TEST_F(UnzipTest, ExistingReadOnlyTargetAndFoldersInTheWayFail)
{
    const auto zip = MakeZip(dir.path(), "ro.zip", R"(
    add("ro.txt", b"new")
    add("dir", b"file where a folder is")
    add("notdir/x.txt", b"x")
)");
    WriteFile(out() / "ro.txt", "old");
    fs::permissions(out() / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directories(out() / "dir");
    WriteFile(out() / "notdir", "a file");
    CUnzipper u(zip.string().c_str());
    EXPECT_EQ(ExtractAll(u, out().string().c_str()), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(ReadFile(out() / "ro.txt"), "old");
}

TEST_F(UnzipTest, FlattenAndFolderHelpers)
{
    const auto zip = MakeZip(dir.path(), "flat.zip", "    add('docs/deep/readme.txt', b'r')\n");
    CUnzipper u(zip.string().c_str());
    ASSERT_TRUE(u.ExtractEntry(out().string().c_str(), true));
    EXPECT_EQ(ReadFile(out() / "readme.txt"), "r");
    EXPECT_FALSE(fs::exists(out() / "docs"));

    const fs::path chain = dir.path() / "x" / "y" / "z";
    EXPECT_TRUE(CUnzipper::EnsureFolder((chain.string() + "/").c_str()));   // true although it ends in "/"
    EXPECT_TRUE(fs::is_directory(chain));
    EXPECT_TRUE(CUnzipper::EnsureFolder(chain.string().c_str()));
    EXPECT_FALSE(CUnzipper::EnsureFolder(""));
    WriteFile(dir.path() / "file", "f");
    EXPECT_FALSE(CUnzipper::EnsureFolder((dir.path() / "file" / "sub").string().c_str()));
    EXPECT_TRUE(CUnzipper::EnsureParentFolder((dir.path() / "p" / "q" / "f.txt").generic_string().c_str()));
    EXPECT_TRUE(fs::is_directory(dir.path() / "p" / "q"));
    EXPECT_FALSE(CUnzipper::EnsureParentFolder("nofolder.txt"));

    // A target on an existing file fails and changes nothing.
    CUnzipper t(zip.string().c_str());
    const std::string before = t.GetTargetFolder();
    EXPECT_FALSE(t.SetTargetFolder((dir.path() / "file").string().c_str()));
    EXPECT_EQ(t.GetTargetFolder(), before);
    EXPECT_TRUE(t.SetTargetFolder((dir.path() / "new" / "chain").string().c_str()));
    EXPECT_TRUE(fs::is_directory(dir.path() / "new" / "chain"));
}

TEST_F(UnzipTest, RelativeArchivePathAndZip64Records)
{
    const auto zip = MakeZip(dir.path(), "z64.zip", R"(
    for i in range(70000):
        pass
    with z.open("big.bin", "w", force_zip64=True) as f:
        f.write(b"z" * 300000)
    for i in range(66000):
        z.writestr("many/%d" % i, b"")
)");
    const fs::path old = fs::current_path();
    fs::current_path(dir.path());
    CUnzipper u("z64.zip");
    fs::current_path(old);
    EXPECT_EQ(u.GetTargetFolder(), (dir.path() / "z64").string());
    ASSERT_EQ(u.GetEntryCount(), 66001);   // above 65535: only the Zip64 end record holds it
    ASSERT_TRUE(u.ExtractEntry(out().string().c_str()));
    EXPECT_EQ(fs::file_size(out() / "big.bin"), 300000u);
}

namespace {

// One stored entry, written byte by byte: the central record holds the Zip64
// marker for both sizes and the offset, with the true values in its Zip64
// field, and the archive ends in a Zip64 end record. `localZip64` gives the
// local header the marker and a Zip64 field as well.
fs::path MakeZip64ByHand(const fs::path& dir, const std::string& name, bool localZip64)
{
    const fs::path out = dir / name;
    RunPython(R"(import struct, sys, zlib
local_zip64 = )" + std::string(localZip64 ? "True" : "False") +
                  R"(
data = b"small entry, large-archive records " * 40
crc, n, name = zlib.crc32(data), len(data), b"KEL_V12/Setup.exe"
if local_zip64:
    lextra = struct.pack("<HHQQ", 1, 16, n, n)
    local = struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 45, 0, 0, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name), len(lextra)) + name + lextra
else:
    local = struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 20, 0, 0, 0, 0x21, crc, n, n, len(name), 0) + name
body = local + data
cextra = struct.pack("<HHQQQ", 1, 24, n, n, 0)
central = struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\x01\x02", 45 | 3 << 8, 45, 0, 0, 0, 0x21, crc, 0xFFFFFFFF,
                      0xFFFFFFFF, len(name), len(cextra), 0, 0, 0, 0o100644 << 16, 0xFFFFFFFF) + name + cextra
at = len(body)
end64 = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, 1, 1, len(central), at)
locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, at + len(central), 1)
end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
open(sys.argv[1], "wb").write(body + central + end64 + locator + end)
)",
              out);
    return out;
}

}   // namespace

TEST_F(UnzipTest, Zip64FieldsInCentralAndLocalRecords)
{
    const std::string data = [] {
        std::string d;
        for (int i = 0; i < 40; ++i)
            d += "small entry, large-archive records ";
        return d;
    }();
    for (bool localZip64 : {false, true}) {
        SCOPED_TRACE(localZip64 ? "local Zip64 field" : "plain local header");
        fs::remove_all(out());
        const auto zip = MakeZip64ByHand(dir.path(), "z.zip", localZip64);
        CUnzipper u(zip.string().c_str());
        ASSERT_EQ(u.GetEntryCount(), 1);
        ZipEntryInfo info;
        ASSERT_TRUE(u.GetEntryInfo(info));
        EXPECT_EQ(info.uncompressedSize, data.size());
        EXPECT_EQ(info.compressedSize, data.size());
        EXPECT_EQ(u.GetTotalUncompressedSize(), data.size());
        ASSERT_TRUE(u.ExtractEntry(out().string().c_str()));
        EXPECT_EQ(ReadFile(out() / "KEL_V12/Setup.exe"), data);
    }
}

// Java's writer marks folders only by the trailing "/"; Windows tools write
// "\" between folders, which only counts in archives made on Windows.
TEST_F(UnzipTest, FolderEntriesWithoutAttributesAndWindowsSeparators)
{
    const fs::path src = dir.path() / "jar";
    WriteFile(src / "KEL_V12" / "sub" / "a.txt", "a");
    WriteFile(src / "KEL_V12" / "Setup.exe", "setup");
    ASSERT_EQ(RunCommand("cd '" + src.string() + "' && jar --create --file ../k.zip --no-manifest KEL_V12"), 0);
    CUnzipper j((dir.path() / "k.zip").string().c_str());
    EXPECT_EQ(ExtractAll(j, out().string().c_str()), std::vector<bool>(4, true));
    EXPECT_TRUE(fs::is_directory(out() / "KEL_V12" / "sub"));
    EXPECT_EQ(ReadFile(out() / "KEL_V12" / "Setup.exe"), "setup");
#ifndef _WIN32   // Windows tells the execute bits by a name's extension
    EXPECT_EQ(Mode(out() / "KEL_V12" / "Setup.exe"), Mode(out() / "KEL_V12" / "sub" / "a.txt"));
#endif

    const auto zip = MakeZip(dir.path(), "win.zip", R"(
    add("KEL_V13\\", folder=True)
    add("KEL_V13\\KEL_V13\\Setup.exe", b"win")
    add("..\\up.txt", b"up")
    add("a\\..\\..\\up2.txt", b"up")
    info = zipfile.ZipInfo("unix\\name.txt"); info.create_system = 3; z.writestr(info, b"one file")
)");
    const fs::path target = dir.path() / "w" / "in";
    CUnzipper w(zip.string().c_str());
    ZipEntryInfo info;
    ASSERT_TRUE(w.GetEntryInfo(info));
    EXPECT_STREQ(info.name, "KEL_V13/");
#ifdef _WIN32
    // No Windows name holds a "\": the Unix entry's name is refused.
    EXPECT_EQ(ExtractAll(w, target.string().c_str()), (std::vector<bool>{true, true, false, false, false}));
#else
    EXPECT_EQ(ExtractAll(w, target.string().c_str()), (std::vector<bool>{true, true, false, false, true}));
    EXPECT_EQ(ReadFile(target / "unix\\name.txt"), "one file");
#endif
    EXPECT_EQ(ReadFile(target / "KEL_V13" / "KEL_V13" / "Setup.exe"), "win");
    EXPECT_FALSE(fs::exists(dir.path() / "w" / "up.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "up2.txt"));
}

TEST_F(UnzipTest, CountLiesAndOverlappingEntriesRefuseTheArchive)
{
    const auto zip = MakeZip(dir.path(), "three.zip", R"(
    for i in range(3):
        add("f%d.txt" % i, b"x" * 1000)
)");
    const std::string bytes = ReadFile(zip);
    const auto end = bytes.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    std::string lie = bytes;
    lie[end + 8] = lie[end + 10] = '\xF0';   // 0xFFF0 entries where the directory holds three
    lie[end + 9] = lie[end + 11] = '\xFF';
    WriteFile(dir.path() / "lie.zip", lie);
    CUnzipper u;
    EXPECT_FALSE(u.OpenArchive((dir.path() / "lie.zip").string().c_str()));
    EXPECT_EQ(u.GetEntryCount(), 0);

    // Every central record points at the same local entry: a few kilobytes
    // that would unpack to many times their size.
    const auto bomb = dir.path() / "bomb.zip";
    RunPython(R"(import struct, sys, zlib
data = b"A" * 100000
packed = zlib.compressobj(9, zlib.DEFLATED, -15)
packed = packed.compress(data) + packed.flush()
crc = zlib.crc32(data)
local = struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 20, 0, 8, 0, 0x21, crc, len(packed), len(data), 1, 0) + b"k" + packed
central = b""
for i in range(50):
    name = b"k%02d" % i
    central += struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\x01\x02", 20, 20, 0, 8, 0, 0x21, crc, len(packed), len(data),
                           len(name), 0, 0, 0, 0, 0, 0) + name
end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 50, 50, len(central), len(local), 0)
open(sys.argv[1], "wb").write(local + central + end)
)",
              bomb);
    EXPECT_FALSE(u.OpenArchive(bomb.string().c_str()));
    EXPECT_EQ(u.GetEntryCount(), 0);
}

TEST_F(UnzipTest, StopDuringAnEntryRemovesWhatWasWritten)
{
    const auto zip = MakeZip(dir.path(), "big.zip", "    add('big.bin', b'b' * (8 << 20))\n");
    WriteFile(out() / "big.bin", "older copy");
    CUnzipper u(zip.string().c_str());
    int reads = 0;
    u.SetStopCheck([&] { return ++reads > 1000; });   // about 2 MB in
    EXPECT_FALSE(u.ExtractEntry(out().string().c_str()));
    EXPECT_GT(reads, 1000);
    EXPECT_EQ(ReadFile(out() / "big.bin"), "older copy");
    EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()), 1);
}

// Deflate64 as 7-Zip writes it: text with repeats further back than 32 KiB
// and runs longer than 258 bytes, random bytes repeated 40 KB apart; and
// streams of our own: an empty entry and one byte (7-Zip stores these), and
// length code 285 with its 16 extra bits (7-Zip's matches stop at 257).
TEST_F(UnzipTest, Deflate64EntriesMatch7ZipAndDamageWritesNothing)
{
    const fs::path src = dir.path() / "src";
    RunPython(R"(import os, random, sys
rnd = random.Random(3)
words = [bytes(rnd.choice(b"abcdefghij") for _ in range(rnd.randint(2, 9))) for _ in range(2000)]
block = b" ".join(rnd.choice(words) for _ in range(9000))[:45000]
text = bytearray()
while len(text) < 1500000:
    text += block[:rnd.randint(1000, 45000)] + bytes([rnd.randint(97, 122)]) * rnd.randint(259, 70000)
os.makedirs(sys.argv[1])
open(sys.argv[1] + "/text.txt", "wb").write(text)
r = os.urandom(40000)
open(sys.argv[1] + "/random.bin", "wb").write(r + r + os.urandom(5000) + r)
)",
              src);
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=Deflate64 ../d64.zip text.txt random.bin"));
    const fs::path zip = dir.path() / "d64.zip";
    ASSERT_TRUE(SevenZip(dir.path(), "x -oref d64.zip"));
    const auto tiny = MakeZip(dir.path(), "tiny.zip", R"(
    add("empty.txt", b"\x03\x00", method=zipfile.ZIP_STORED)
    add("one.txt", b"\xab\x00\x00", method=zipfile.ZIP_STORED)
    add("long.txt", b"\x4b\x4c\x4a\x1e\x2d\x1f\x40\x00", method=zipfile.ZIP_STORED)
)");
    // "abc", then a copy of length 3 + 997 from 3 bytes back.
    std::string abc;
    while (abc.size() < 1003)
        abc += "abc";
    abc.resize(1003);
    PatchEntry(tiny, "empty.txt", "9", "0", "0");
    PatchEntry(tiny, "one.txt", "9", "1", "0x8CDC1683");   // "x"
    PatchEntry(tiny, "long.txt", "9", "1003",
               std::to_string(crc32(0, reinterpret_cast<const Bytef*>(abc.data()), 1003)));
    CUnzipper u(zip.string().c_str());
    ZipEntryInfo info;
    ASSERT_TRUE(u.GetEntryInfo(info));
    EXPECT_EQ(info.compressionMethod, 9u);
    EXPECT_EQ(ExtractAll(u, out().string().c_str()), (std::vector<bool>{true, true}));
    EXPECT_EQ(ReadFile(out() / "text.txt"), ReadFile(dir.path() / "ref/text.txt"));
    EXPECT_EQ(ReadFile(out() / "random.bin"), ReadFile(dir.path() / "ref/random.bin"));
    CUnzipper t(tiny.string().c_str());
    EXPECT_EQ(ExtractAll(t, out().string().c_str()), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(ReadFile(out() / "empty.txt"), "");
    EXPECT_EQ(ReadFile(out() / "one.txt"), "x");
    EXPECT_EQ(ReadFile(out() / "long.txt"), abc);

    // Damaged in the middle of the stream (random.bin comes first), or a
    // checksum that does not match: the entry fails and nothing of it stays.
    std::string bytes = ReadFile(zip);
    for (std::size_t i = 20000; i < 20100; ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    WriteFile(dir.path() / "damaged.zip", bytes);
    CUnzipper d((dir.path() / "damaged.zip").string().c_str());
    EXPECT_EQ(ExtractAll(d, (dir.path() / "d").string().c_str()), (std::vector<bool>{false, true}));
    EXPECT_FALSE(fs::exists(dir.path() / "d/random.bin"));
    PatchEntry(tiny, "one.txt", "None", "None", "0x8CDC1684");
    CUnzipper c(tiny.string().c_str());
    EXPECT_EQ(ExtractAll(c, (dir.path() / "c").string().c_str()), (std::vector<bool>{true, false, true}));
    EXPECT_FALSE(fs::exists(dir.path() / "c/one.txt"));
}

// An entry whose local header lies past 4 GiB: a stored entry of zeros that
// is only a hole in a sparse file comes first.
TEST_F(UnzipTest, Deflate64EntryPastFourGiB)
{
    const fs::path src = dir.path() / "src";
    RunPython("import os, sys\nos.makedirs(sys.argv[1])\n"
              "open(sys.argv[1] + '/a.txt', 'wb').write(b'0123456789abcdef' * 40000 + b'q' * 1000)\n",
              src);
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=Deflate64 ../d64.zip a.txt"));
    const fs::path far = dir.path() / "far.zip";
    RunPython(R"(import struct, sys, zipfile
src = sys.argv[1].replace("far.zip", "d64.zip")
i = zipfile.ZipFile(src).getinfo("a.txt")
raw = open(src, "rb").read()
n, x = struct.unpack("<HH", raw[i.header_offset + 26:i.header_offset + 30])
data = raw[i.header_offset + 30 + n + x:][:i.compress_size]
gap = (1 << 32) + 4096
f = open(sys.argv[1], "wb")
f.write(struct.pack("<IHHHHHIIIHH", 0x04034b50, 45, 0, 0, 0, 0x5021, 0, 0xFFFFFFFF, 0xFFFFFFFF, 7, 20) + b"gap.bin" +
        struct.pack("<HHQQ", 1, 16, gap, gap))
f.seek(gap, 1)
at = f.tell()
f.write(struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, 0, 9, 0, 0x5021, i.CRC, len(data), i.file_size, 5, 0) + b"a.txt" + data)
cd = f.tell()
f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 45, 45, 0, 0, 0, 0x5021, 0, 0xFFFFFFFF, 0xFFFFFFFF, 7, 20, 0, 0, 0, 0, 0)
        + b"gap.bin" + struct.pack("<HHQQ", 1, 16, gap, gap))
f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 45, 20, 0, 9, 0, 0x5021, i.CRC, len(data), i.file_size, 5, 12, 0, 0, 0, 0,
        0xFFFFFFFF) + b"a.txt" + struct.pack("<HHQ", 1, 8, at))
end = f.tell()
f.write(struct.pack("<IQHHIIQQQQ", 0x06064b50, 44, 45, 45, 0, 0, 2, 2, end - cd, cd))
f.write(struct.pack("<IIQI", 0x07064b50, 0, end, 1))
f.write(struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))
)",
              far);
    if (SpaceTaken(far) > (1u << 30))
        GTEST_SKIP() << "the temporary file system has no sparse files";
    CUnzipper u(far.string().c_str());
    ASSERT_EQ(u.GetEntryCount(), 2);
    ASSERT_TRUE(u.GoToNextEntry());
    EXPECT_TRUE(u.ExtractEntry(out().string().c_str()));
    EXPECT_EQ(ReadFile(out() / "a.txt"), ReadFile(src / "a.txt"));
}

// What nothing here decodes is named before anything is written, and its
// entries fail without writing; AES-encrypted entries name their real method.
TEST_F(UnzipTest, UndecodableMethodsAreNamedAndWriteNothing)
{
    const fs::path src = dir.path() / "src";
    RunPython("import os, sys\nos.makedirs(sys.argv[1])\nopen(sys.argv[1] + '/x.txt', 'wb').write(b'xz' * 5000)\n",
              src);
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=PPMd ../ppmd.zip x.txt"));
    const auto zip = MakeZip(dir.path(), "m.zip", R"(
    add("dir/", folder=True)
    add("ok.txt", b"fine")
    add("odd.bin", b"data", method=zipfile.ZIP_STORED)
)");
    PatchEntry(zip, "dir/", "98", "None");   // a folder is never decoded
    PatchEntry(zip, "odd.bin", "77", "None");
    std::string entry, problem;
    CUnzipper u(zip.string().c_str());
    ASSERT_TRUE(u.FindUndecodableEntry(entry, problem));
    EXPECT_EQ(entry + ": " + problem, "odd.bin: Unsupported Compression (77)");
    EXPECT_EQ(ExtractAll(u, out().string().c_str()), (std::vector<bool>{true, true, false}));
    EXPECT_FALSE(fs::exists(out() / "odd.bin"));
    CUnzipper x((dir.path() / "ppmd.zip").string().c_str());
    ASSERT_TRUE(x.FindUndecodableEntry(entry, problem));
    EXPECT_EQ(entry + ": " + problem, "x.txt: Unsupported Compression (PPMd)");

    const auto fine =
        MakeZip(dir.path(), "fine.zip", "    add('a.txt', b'a')\n    add('b.txt', b'b', method=zipfile.ZIP_BZIP2)\n");
    CUnzipper f(fine.string().c_str());
    EXPECT_FALSE(f.FindUndecodableEntry(entry, problem));
    EXPECT_FALSE(CUnzipper().FindUndecodableEntry(entry, problem));
    // bzip2 is libzip's own, on both systems.
    fs::create_directories(out() / "fine");
    EXPECT_EQ(ExtractAll(f, (out() / "fine").string().c_str()), (std::vector<bool>{true, true}));
    EXPECT_EQ(ReadFile(out() / "fine" / "b.txt"), "b");
}

// LZMA, XZ and Zstandard archives as releases come: made by 7-Zip, by
// Python's zipfile and, for Zstandard, which 7-Zip here cannot put into a
// zip, entries compressed by the zstd program and recorded as method 93.
struct NewMethodsTest : UnzipTest {
    fs::path src = dir.path() / "src";
    void SetUp() override
    {
        // Text repeating further back than 64 KiB, random data, an empty file.
        RunPython("import os, random, sys\nos.makedirs(sys.argv[1])\nr = random.Random(3)\n"
                  "words = [bytes(r.choice(b'abcdefgh') for _ in range(r.randint(2, 9))) for _ in range(3000)]\n"
                  "open(sys.argv[1] + '/text.txt', 'wb').write(b' '.join(r.choice(words) for _ in range(150000)))\n"
                  "open(sys.argv[1] + '/random.bin', 'wb').write(r.randbytes(300000))\n"
                  "open(sys.argv[1] + '/empty.txt', 'wb').close()\n",
                  src);
    }
    // A zip of the source files, each compressed by `zstd` with `options`.
    fs::path ZstdZip(const std::string& name, const std::string& options)
    {
        const fs::path zip = dir.path() / name;
        RunPython("import os, struct, subprocess, sys, zlib\nsrc = '" + src.string() + "'\nbody, central = b'', b''\n" +
                      "names = ['text.txt', 'random.bin', 'empty.txt']\n"
                      "for n in names:\n"
                      "    data = open(os.path.join(src, n), 'rb').read()\n"
                      "    comp = subprocess.run(['zstd', '-q', '-c'] + '" +
                      options + R"('.split(), input=data, capture_output=True, check=True).stdout
    crc, e = zlib.crc32(data), n.encode()
    head = struct.pack('<HHHHHIIIHH', 63, 0, 93, 0, 0x21, crc, len(comp), len(data), len(e), 0)
    central += b'PK\x01\x02' + struct.pack('<H', 63) + head + struct.pack('<HHHII', 0, 0, 0, 0, len(body)) + e
    body += b'PK\x03\x04' + head + e + comp
end = b'PK\x05\x06' + struct.pack('<HHHHIIH', 0, 0, len(names), len(names), len(central), len(body), 0)
open(sys.argv[1], 'wb').write(body + central + end)
)",
                  zip);
        return zip;
    }
    // Every entry written and equal to its source, and text.txt compressed with `method`.
    void ExpectWhole(const fs::path& zip, std::uint32_t method)
    {
        SCOPED_TRACE(zip.filename().string());
        CUnzipper u(zip.string().c_str());
        std::string entry, problem;
        EXPECT_FALSE(u.FindUndecodableEntry(entry, problem)) << entry << ": " << problem;
        const fs::path into = out() / zip.stem();
        ASSERT_TRUE(u.SetTargetFolder(into.string().c_str()));
        for (int i = 0; i < u.GetEntryCount(); ++i, u.GoToNextEntry()) {
            ZipEntryInfo info;
            ASSERT_TRUE(u.GetEntryInfo(info));
            if (std::string(info.name) == "text.txt") {
                EXPECT_EQ(info.compressionMethod, method);
            }
            EXPECT_TRUE(u.ExtractEntry()) << info.name;
        }
        for (const char* name : {"text.txt", "random.bin", "empty.txt"})
            EXPECT_EQ(ReadFile(into / name), ReadFile(src / name)) << name;
    }
};

TEST_F(NewMethodsTest, LzmaXzAndZstandardEntriesMatchTheirSources)
{
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=LZMA ../7z-lzma.zip text.txt random.bin empty.txt"));
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=LZMA -mx=9 ../7z-lzma-eos.zip text.txt random.bin empty.txt -mf=off -meos"));
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=XZ ../7z-xz.zip text.txt random.bin empty.txt"));
    RunPython("import os, sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_LZMA) as z:\n"
              "    for n in ('text.txt', 'random.bin', 'empty.txt'):\n"
              "        z.write(os.path.join('" +
                  src.string() + "', n), n)\n",
              dir.path() / "py-lzma.zip");
    ExpectWhole(dir.path() / "7z-lzma.zip", 14);
    ExpectWhole(dir.path() / "7z-lzma-eos.zip", 14);
    ExpectWhole(dir.path() / "py-lzma.zip", 14);
    ExpectWhole(dir.path() / "7z-xz.zip", 95);
    ExpectWhole(ZstdZip("zstd.zip", "-19"), 93);
    ExpectWhole(ZstdZip("zstd-frames.zip", "-1 -B65536 --no-content-size"), 93);
}

// As for every method: a wrong checksum, a recorded size shorter or longer
// than the data, or data zeroed from its middle on fail the entry, and
// nothing of it stays.
TEST_F(NewMethodsTest, ChecksumsSizesAndDamageFailTheEntryAndLeaveNothing)
{
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=LZMA ../lzma.zip text.txt"));
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=XZ ../xz.zip text.txt"));
    const std::vector<fs::path> zips{dir.path() / "lzma.zip", dir.path() / "xz.zip", ZstdZip("zstd.zip", "-3")};
    const auto size = std::to_string(fs::file_size(src / "text.txt"));
    const std::vector<std::pair<std::string, std::string>> lies{
        {"None", "12345"}, {"1000", "None"}, {std::to_string(std::stoul(size) + 10), "None"}};
    for (const auto& zip : zips) {
        for (const auto& [recordedSize, crc] : lies) {
            SCOPED_TRACE(zip.filename().string() + " size " + recordedSize + " crc " + crc);
            const fs::path copy = dir.path() / "copy.zip";
            // Removed first: libstdc++ on Windows takes any existing file for the source itself (no inode numbers).
            fs::remove(copy);
            fs::copy_file(zip, copy);
            PatchEntry(copy, "text.txt", "None", recordedSize, crc);
            {
                CUnzipper u(copy.string().c_str());
                EXPECT_FALSE(ExtractAll(u, out().string().c_str()).front());
            }   // lets go of the folder, which Windows keeps from being removed while it is a target
            EXPECT_FALSE(fs::exists(out() / "text.txt"));
            fs::remove_all(out());
        }
        // The data cut short in the middle.
        RunPython("import sys, zipfile\nsrc = '" + zip.string() + R"('
info = zipfile.ZipFile(src).getinfo('text.txt')
b = bytearray(open(src, 'rb').read())
at = info.header_offset + 30 + len(info.filename) + int.from_bytes(b[info.header_offset + 28:info.header_offset + 30], 'little')
b[at + info.compress_size // 2:at + info.compress_size] = bytes(info.compress_size - info.compress_size // 2)
open(sys.argv[1], 'wb').write(b)
)",
                  dir.path() / "cut.zip");
        {
            CUnzipper u((dir.path() / "cut.zip").string().c_str());
            EXPECT_FALSE(ExtractAll(u, out().string().c_str()).front()) << zip;
        }
        EXPECT_FALSE(fs::exists(out() / "text.txt"));
        fs::remove_all(out());
    }
}

// A dictionary or window above 256 MiB, however little data follows, is
// named before anything is written, and decoding refuses it too.
TEST_F(NewMethodsTest, DictionariesAndWindowsAboveTheBoundAreRefusedBeforeWriting)
{
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=LZMA ../lzma.zip text.txt"));
    ASSERT_TRUE(SevenZip(src, "a -tzip -mm=XZ ../xz.zip text.txt"));
    // LZMA: the dictionary size in the properties (after the 4-byte header
    // and the lc/lp/pb byte). XZ: the LZMA2 dictionary byte in the first
    // block header, its CRC made anew. 256 MiB itself passes for both.
    const auto patch = [&](const fs::path& zip, const std::string& change) {
        RunPython("import struct, sys, zipfile, zlib\nsrc = '" + zip.string() + R"('
info = zipfile.ZipFile(src).getinfo('text.txt')
b = bytearray(open(src, 'rb').read())
at = info.header_offset + 30 + len(info.filename) + int.from_bytes(b[info.header_offset + 28:info.header_offset + 30], 'little')
)" + change + "open(sys.argv[1], 'wb').write(b)\n",
                  dir.path() / "big.zip");
        return dir.path() / "big.zip";
    };
    const std::string xzBlock = "h = at + 12\nn = (b[h] + 1) * 4\nf = b.find(b'\\x21\\x01', h + 2, h + n)\n";
    const std::string xzCrc = "b[h + n - 4:h + n] = struct.pack('<I', zlib.crc32(bytes(b[h:h + n - 4])))\n";
    const struct {
        fs::path zip;
        std::string change;
        std::string problem;
    } cases[] = {
        {dir.path() / "lzma.zip", "b[at + 5:at + 9] = struct.pack('<I', 1 << 30)\n",
         "Dictionary Too Large (LZMA, 1024 MiB)"},
        {dir.path() / "lzma.zip", "b[at + 5:at + 9] = struct.pack('<I', 0xFFFFFFFF)\n",
         "Dictionary Too Large (LZMA, 4096 MiB)"},
        {dir.path() / "lzma.zip", "b[at + 5:at + 9] = struct.pack('<I', (256 << 20) + 1)\n",
         "Dictionary Too Large (LZMA, 257 MiB)"},
        {dir.path() / "xz.zip", xzBlock + "b[f + 2] = 36\n" + xzCrc, "Dictionary Too Large (XZ, 1024 MiB)"},
        {ZstdZip("zstd-long.zip", "--long=30 --no-content-size"), "", "Window Too Large (Zstandard, 1024 MiB)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        const fs::path zip = patch(c.zip, c.change);
        CUnzipper u(zip.string().c_str());
        std::string entry, problem;
        ASSERT_TRUE(u.FindUndecodableEntry(entry, problem));
        EXPECT_EQ(entry + ": " + problem, "text.txt: " + c.problem);
        EXPECT_FALSE(u.ExtractEntry(out().string().c_str()));
        EXPECT_TRUE(fs::is_empty(out()));
    }
    // At the bound: 256 MiB dictionaries are taken (the data then decodes as before).
    for (const auto& [zip, change] :
         {std::pair{dir.path() / "lzma.zip", std::string("b[at + 5:at + 9] = struct.pack('<I', 256 << 20)\n")},
          std::pair{dir.path() / "xz.zip", xzBlock + "b[f + 2] = 32\n" + xzCrc}}) {
        {
            CUnzipper u(patch(zip, change).string().c_str());
            std::string entry, problem;
            EXPECT_FALSE(u.FindUndecodableEntry(entry, problem)) << problem;
            EXPECT_TRUE(u.ExtractEntry(out().string().c_str())) << zip;
        }
        EXPECT_EQ(ReadFile(out() / "text.txt"), ReadFile(src / "text.txt"));
        fs::remove_all(out());
    }
}

// UTC times from the Unix extra field (whole seconds, odd ones included) and
// the NTFS one (100 ns steps) win over the MS-DOS time in any time zone; the
// MS-DOS time alone is still read as local time.
TEST_F(UnzipTest, ExtraFieldTimesAreExactInEveryTimeZone)
{
#ifdef _WIN32
    // Windows' C library takes no zone names in TZ, and Windows' file times do not follow TZ.
    GTEST_SKIP() << "time zones are set through TZ on Linux only";
#else
    const auto zip = MakeZip(dir.path(), "t.zip", R"(
    import struct
    ut = struct.pack("<HHBi", 0x5455, 5, 1, 1609556645)   # 2021-01-02 03:04:05 UTC
    ntfs = struct.pack("<HHIHHQQQ", 0x000a, 32, 0, 1, 24, 132514428451234567, 0, 0)   # 2020-12-03 04:20:45.1234567 UTC
    add("ut.txt", b"u", extra=ut)
    add("ntfs.txt", b"n", extra=ntfs)
    add("dos.txt", b"d")
)");
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    for (const char* zone : {"UTC", "America/New_York"}) {
        setenv("TZ", zone, 1);
        tzset();
        CUnzipper u(zip.string().c_str());
        const fs::path into = out() / zone;
        EXPECT_EQ(ExtractAll(u, into.string().c_str()), (std::vector<bool>{true, true, true}));
        EXPECT_EQ(ModifiedAt(into / "ut.txt"), 1609556645) << zone;
        struct stat st {};
        stat((into / "ntfs.txt").string().c_str(), &st);
        EXPECT_EQ(st.st_mtim.tv_sec, 1606969245) << zone;
        EXPECT_EQ(st.st_mtim.tv_nsec, 123456700) << zone;
        EXPECT_EQ(ModifiedAt(into / "dos.txt"), LocalTime(2020, 5, 17, 13, 45, 30)) << zone;
    }
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
#endif
}

// An entry that holds far more than it declares fails at the first byte past
// its recorded size: nothing of it stays, and no more than that size was ever
// on disk (so the free-space check, made from recorded sizes, holds).
TEST_F(UnzipTest, DataBeyondTheRecordedSizeIsNeverWritten)
{
    const auto zip = MakeZip(dir.path(), "lie.zip", "    add('zeros.bin', bytes(4 << 20))\n");
    PatchEntry(zip, "zeros.bin", "None", "1000");
    CUnzipper u(zip.string().c_str());
    ASSERT_TRUE(u.SetTargetFolder(out().string().c_str()));
    std::uintmax_t largest = 0;
    u.SetStopCheck([&] {
        std::error_code ec;
        const auto size = fs::file_size(out() / "zeros.bin", ec);
        largest = ec ? largest : std::max(largest, size);
        return false;
    });
    EXPECT_FALSE(u.ExtractEntry());
    EXPECT_LE(largest, 1000u);
    EXPECT_TRUE(fs::is_empty(out()));
}

namespace {

// A part file of an archive's size into which the archive's bytes are
// written piece by piece, each told to `arrived` once on disk, as a download does.
struct ArrivingPart {
    ArrivingPart(const fs::path& dir, const std::string& bytes)
        : data(bytes),
          folder(CFolder::OpenPath(dir.string(), false)),
          arrived(std::make_shared<CArrivingBytes>(bytes.size()))
    {
        writer = folder.OpenFile("a.part", FileOpen::ReadWrite);
        EXPECT_TRUE(writer.Truncate(bytes.size()).Ok());
    }
    void Deliver(std::uint64_t begin, std::uint64_t end)
    {
        end = std::min<std::uint64_t>(end, data.size());
        ASSERT_TRUE(writer.WriteAt(data.data() + begin, end - begin, begin).Ok());
        arrived->Arrived(begin, end);
    }
    bool Open(CUnzipper& u, const fs::path& target)
    {
        return u.OpenArchive(folder.OpenFile("a.part", FileOpen::Read), "a.zip", arrived) &&
               u.SetTargetFolder(target.string().c_str());
    }
    std::string data;
    CFolder folder;
    CFile writer;
    std::shared_ptr<CArrivingBytes> arrived;
};

}   // namespace

// An archive still arriving, its 4 KiB blocks in random order: its directory
// and first entry are read before the rest is there, and every entry of
// every method comes out as from the whole archive.
TEST_F(UnzipTest, AnArrivingArchiveIsUnpackedAsItsBytesCome)
{
    const auto zip = MakeZip(dir.path(), "m.zip", R"(
    import random
    r = random.Random(5)
    add("first.txt", b"the first entry")
    for i, m in enumerate([zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED, zipfile.ZIP_BZIP2, zipfile.ZIP_LZMA] * 3):
        add("d%d/e%d.bin" % (i % 3, i), bytes(r.getrandbits(8) for _ in range(30000)) * 8, method=m)
    add("big.bin", bytes(range(251)) * 40000, method=zipfile.ZIP_STORED)   # copied in blocks as they come
)");
    CUnzipper whole(zip.string().c_str());
    ASSERT_TRUE(whole.SetTargetFolder((dir.path() / "whole").string().c_str()));
    ASSERT_EQ(ExtractAll(whole), std::vector<bool>(14, true));

    ArrivingPart part(dir.path(), ReadFile(zip));
    const std::uint64_t size = part.data.size();
    part.Deliver(0, 4096);
    part.Deliver(size - 70000, size);
    std::promise<void> firstDone;
    std::thread download([&, done = firstDone.get_future()] {
        done.wait();
        std::vector<std::uint64_t> blocks;
        for (std::uint64_t at = 4096; at < size - 70000; at += 4096)
            blocks.push_back(at);
        std::shuffle(blocks.begin(), blocks.end(), std::mt19937(7));
        for (const std::uint64_t at : blocks)
            part.Deliver(at, std::min(at + 4096, size - 70000));
    });
    CUnzipper u;
    const bool opened = part.Open(u, out());
    const bool first = opened && u.ExtractEntry();
    EXPECT_FALSE(part.arrived->Complete());
    firstDone.set_value();
    EXPECT_TRUE(opened);
    EXPECT_TRUE(first);
    u.GoToNextEntry();
    std::vector<bool> rest;
    for (int i = 1; i < u.GetEntryCount(); ++i, u.GoToNextEntry())
        rest.push_back(u.ExtractEntry());
    download.join();
    EXPECT_EQ(rest, std::vector<bool>(13, true));
    for (const auto& e : fs::recursive_directory_iterator(dir.path() / "whole")) {
        if (e.is_regular_file()) {
            EXPECT_EQ(ReadFile(out() / fs::relative(e.path(), dir.path() / "whole")), ReadFile(e.path())) << e.path();
        }
    }
}

// A read waiting for bytes ends at once when the run stops or the download
// fails: the entry fails with nothing written, never with a short file. An
// entry sharing its bytes with another, or said to lie past the end, marks
// the whole archive.
TEST_F(UnzipTest, AWaitingReadEndsOnStopOrFailureAndOverlapsMarkTheArchive)
{
    const auto zip = MakeZip(dir.path(), "s.zip", R"(
    add("a.bin", bytes(range(256)) * 4000, method=zipfile.ZIP_STORED)
    add("b.txt", b"b")
)");
    // Bytes written again are taken back only where a reader may have them,
    // and a reader that waited before reads them once more.
    {
        CArrivingBytes bytes(1000);
        bytes.Arrived(0, 100);
        const std::uint64_t stamp = bytes.Stamp();
        bytes.Withdrawn(100, 200);
        EXPECT_TRUE(bytes.Unchanged(stamp));
        bytes.Withdrawn(50, 150);
        EXPECT_FALSE(bytes.Unchanged(stamp));
        EXPECT_TRUE(bytes.Has(0, 50));
        EXPECT_FALSE(bytes.Has(0, 51));
        EXPECT_EQ(bytes.Missing(), 950u);
    }
    for (const bool stop : {true, false}) {
        ArrivingPart part(dir.path(), ReadFile(zip));
        part.Deliver(0, 500000);   // a.bin's head only
        part.Deliver(part.data.size() - 70000, part.data.size());
        CUnzipper u;
        ASSERT_TRUE(part.Open(u, out()));
        std::thread end([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));   // most likely while the read waits
            stop ? part.arrived->Stop() : part.arrived->Fail();
        });
        EXPECT_FALSE(u.ExtractEntry());
        end.join();
        EXPECT_FALSE(fs::exists(out() / "a.bin"));
        u.GoToNextEntry();
        EXPECT_FALSE(u.ExtractEntry());   // every wait fails from now on
        EXPECT_FALSE(u.ArchiveBroken());
    }

    RunPython(R"(import struct, sys, zlib
data = b"A" * 1000
crc = zlib.crc32(data)
local = struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 20, 0, 0, 0, 0x21, crc, len(data), len(data), 1, 0) + b"k" + data
central = b""
for i in range(3):
    name = b"k%d" % i
    central += struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\x01\x02", 20, 20, 0, 0, 0, 0x21, crc, len(data), len(data),
                           len(name), 0, 0, 0, 0, 0, 0 if i < 2 else 10**6) + name
end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 3, 3, len(central), len(local), 0)
open(sys.argv[1], "wb").write(local + central + end)
)",
              dir.path() / "bomb.zip");
    ArrivingPart bomb(dir.path(), ReadFile(dir.path() / "bomb.zip"));
    bomb.Deliver(0, bomb.data.size());
    CUnzipper u;
    ASSERT_TRUE(bomb.Open(u, out()));
    EXPECT_FALSE(u.ExtractEntry());
    EXPECT_TRUE(u.ArchiveBroken());
    EXPECT_FALSE(fs::exists(out() / "k0"));
    // A header said to lie past the end is not waited for.
    CUnzipper past;
    ASSERT_TRUE(bomb.Open(past, out()));
    past.GoToNextEntry();
    past.GoToNextEntry();
    EXPECT_FALSE(past.ExtractEntry());
    EXPECT_TRUE(past.ArchiveBroken());
}
