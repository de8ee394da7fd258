#include "platform/CFolder.h"
#include "support/TestSupport.h"
#include "worker/CBlake2b.h"
#include "worker/CPieceCheck.h"
#include "worker/CReleaseList.h"
#include "worker/CReleaseSignature.h"
#include "worker/CReleaseState.h"
#include "worker/SharedFetch.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

// A key pair and an archive signed with it by the minisign program.
struct Signed {
    TempDir dir;
    std::string key = MakeSigningKey(dir.path() / "key");
    std::string data = PatternBytes(300000);
    fs::path file = dir.path() / "KEL_V12.zip";
    Signed()
    {
        WriteFile(file, data);
        SignFile(dir.path() / "key", file);
    }
    std::string Signature() const { return ReadFile(file.string() + ".minisig"); }
    std::string Resigned(const std::string& options) const
    {
        const std::string cmd = "minisign -S " + options + " -s '" + (dir.path() / "key/key.sec").string() + "' -m '" +
                                file.string() + "' -x '" + file.string() + ".other' >/dev/null 2>&1";
        EXPECT_EQ(RunCommand(cmd), 0) << cmd;
        return ReadFile(file.string() + ".other");
    }
};

bool Check(const std::string& key, const std::string& signature, const std::string& name, const std::string& data)
{
    CReleaseSignature s(key);
    if (!s.Accept(signature, name))
        return false;
    // In pieces of any size, as the bytes reach the disk.
    for (std::size_t at = 0; at < data.size(); at += 65537)
        s.Update(data.data() + at, std::min<std::size_t>(65537, data.size() - at));
    return s.Verify();
}

}   // namespace

TEST(ReleaseSignature, TheSignedBytesUnderTheirOwnNamePassAndAnyChangeFails)
{
    Signed f;
    EXPECT_TRUE(Check(f.key, f.Signature(), "KEL_V12.zip", f.data));
    // Carriage returns before the line feeds, as an editor on Windows leaves them.
    std::string crlf;
    for (const char c : f.Signature())
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(Check(f.key, crlf, "KEL_V12.zip", f.data));

    std::string changed = f.data;
    changed[123456] ^= 0x20;
    EXPECT_FALSE(Check(f.key, f.Signature(), "KEL_V12.zip", changed));
    EXPECT_FALSE(Check(f.key, f.Signature(), "KEL_V12.zip", f.data.substr(1)));
    EXPECT_FALSE(Check(f.key, f.Signature(), "KEL_V12.zip", f.data + "x"));

    // The trusted comment names the file: another name is refused, and so is
    // the comment changed to name it (the global signature covers it).
    EXPECT_FALSE(Check(f.key, f.Signature(), "KEL_V13.zip", f.data));
    EXPECT_FALSE(Check(f.key, f.Signature(), "KEL_V12", f.data));
    std::string renamed = f.Signature();
    renamed.replace(renamed.find("file:KEL_V12.zip"), 16, "file:KEL_V13.zip");
    EXPECT_FALSE(Check(f.key, renamed, "KEL_V13.zip", f.data));
    // A comment of the publisher's own holds the field exactly, or is refused.
    EXPECT_TRUE(Check(f.key, f.Resigned("-t 'file:KEL_V12.zip'"), "KEL_V12.zip", f.data));
    EXPECT_FALSE(Check(f.key, f.Resigned("-t 'release file:KEL_V12.zip'"), "KEL_V12.zip", f.data));
    EXPECT_FALSE(Check(f.key, f.Resigned("-t 'file:KEL_V12.zip.old'"), "KEL_V12.zip", f.data));
    // The legacy form, which signs the raw file, is not taken.
    EXPECT_FALSE(Check(f.key, f.Resigned("-l"), "KEL_V12.zip", f.data));
}

TEST(ReleaseSignature, OtherKeysAndMalformedFilesAreRefused)
{
    Signed f;
    TempDir other;
    const std::string otherKey = MakeSigningKey(other.path());
    EXPECT_FALSE(Check(otherKey, f.Signature(), "KEL_V12.zip", f.data));
    EXPECT_TRUE(CReleaseSignature(otherKey).HasKey());

    for (const std::string& key :
         {std::string(), std::string("RWQ"), f.key.substr(0, 55), f.key + "AAAA", "untrusted comment: x\n" + f.key}) {
        CReleaseSignature s(key);
        EXPECT_FALSE(s.HasKey()) << key;
        EXPECT_FALSE(s.Accept(f.Signature(), "KEL_V12.zip")) << key;
    }
    EXPECT_TRUE(CReleaseSignature(f.key + "\n").HasKey());

    const std::string good = f.Signature();
    const std::size_t line = good.find('\n') + 1;
    std::vector<std::string> bad = {
        "",
        good.substr(0, good.size() / 2),
        good.substr(line),          // no untrusted comment line
        good + "trailing line\n",   // more than minisign writes
        std::string(CReleaseSignature::kMaxFileSize + 1, 'x'),
    };
    std::string flipped = good;
    flipped[line + 20] = flipped[line + 20] == 'A' ? 'B' : 'A';   // inside the signature line
    bad.push_back(flipped);
    std::string padded = good;
    padded.insert(good.find('\n', line), "=");   // base64 with junk after it
    bad.push_back(padded);
    for (const std::string& text : bad)
        EXPECT_FALSE(Check(f.key, text, "KEL_V12.zip", f.data)) << text;
    // Verify without an accepted signature never passes.
    CReleaseSignature none(f.key);
    EXPECT_FALSE(none.Verify());
}

// What vorn-release writes reads back the same; anything else is refused
// whole, never taken in part.
// The pieces are hashed by the program's own BLAKE2b: every length around
// the 128-byte block, fed whole and in uneven parts, must give libsodium's digest.
TEST(ReleaseList, PieceHashesAreTheDigestsLibsodiumGives)
{
    ASSERT_GE(sodium_init(), 0);
    const std::string data = PatternBytes(70000);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t size : {0, 1, 3, 127, 128, 129, 255, 256, 257, 1000, 65536, 70000}) {
        for (std::size_t digestSize : {1, 32, 64}) {
            unsigned char expected[64];
            crypto_generichash(expected, digestSize, bytes, size, nullptr, 0);
            CBlake2b parts(digestSize);
            for (std::size_t at = 0, step = 1; at < size; at += step, step = step * 3 + 1)
                parts.Update(bytes + at, std::min(step, size - at));
            unsigned char got[64];
            parts.Final(got);
            EXPECT_EQ(0, std::memcmp(expected, got, digestSize)) << size << " bytes, digest " << digestSize;
        }
        PieceHash expected{};
        crypto_generichash(expected.data(), expected.size(), bytes, size, nullptr, 0);
        EXPECT_EQ(HashPiece(bytes, size), expected) << size;
    }
    // RFC 7693's example: BLAKE2b-512 of "abc".
    CBlake2b abc(64);
    abc.Update("abc", 3);
    unsigned char digest[64];
    abc.Final(digest);
    char hex[129];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    EXPECT_STREQ(hex, "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
                      "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923");
}

TEST(ReleaseList, TheListReadsBackAndAnyOtherTextIsRefused)
{
    TempDir dir;
    const fs::path zip = dir.path() / "KEL_V12.zip";
    RunPython("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
              "    z.writestr('a.bin', bytes(range(256)) * 9000)\n",
              zip);
    const CFile file = CFolder::OpenPath(dir.path().string(), false).OpenFile("KEL_V12.zip", FileOpen::Read);
    std::string why;
    const std::optional<ReleaseArchive> archive = ReleaseArchive::Describe(file, "KEL_V12.zip", why);
    ASSERT_TRUE(archive) << why;
    EXPECT_EQ(archive->pieces.size(), 3u);   // 2304000 bytes and some, in pieces of 1 MiB
    EXPECT_EQ(archive->directoryOffset + archive->directorySize + 22, archive->size);
    CReleaseList list{.serial = 20261210111100, .expires = 1805282460, .application = *archive, .update = *archive};
    list.update->name = "KELUPD01_24.zip";
    const std::string text = list.Text();
    EXPECT_NE(text.find("\nexpires 2027-03-17T11:21:00Z\n"), std::string::npos) << text;
    EXPECT_EQ(CReleaseList::Parse(text), list);
    std::string describedWhy;
    WriteFile(dir.path() / "x.zip", "not a zip");
    EXPECT_FALSE(ReleaseArchive::Describe(
        CFolder::OpenPath(dir.path().string(), false).OpenFile("x.zip", FileOpen::Read), "x.zip", describedWhy));

    const auto changed = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        const std::size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return t.replace(at, from.size(), to);
    };
    const std::string firstPiece = text.substr(text.find("piece "), 71);
    for (const std::string& bad :
         {std::string(), text.substr(0, text.size() - 1), text + "\n", text + "piece " + std::string(64, '0') + "\n",
          changed(firstPiece, ""), changed("\n", "\r\n"), changed("VORN release list 1", "VORN release list 2"),
          changed("serial 2026", "serial +2026"), changed("2027-03-17", "2027-02-30"),
          changed("piece-size 1048576", "piece-size 524288"), changed("piece-size 1048576", "piece-size 33554432"),
          changed("piece-size 1048576", "piece-size 3145728"), changed("KEL_V12.zip", "../KEL_V12.zip"),
          changed("KELUPD01_24.zip", "KEL_V12.zip"), changed("central-directory ", "central-directory 9"),
          changed(firstPiece, "piece " + std::string(63, '0') + "g"), changed("update KELUPD", "application KELUPD")})
        EXPECT_FALSE(CReleaseList::Parse(bad)) << bad.substr(0, 400);
}

// The state record: what was stored loads back; one that cannot be read is none.
TEST(ReleaseList, TheStoredSerialLoadsBackAndAnUnreadableRecordIsNone)
{
    TempDir dir;
    const std::string folder = (dir.path() / "state/vorndownload").string() + "/";
    const CReleaseState state(folder);
    EXPECT_FALSE(state.Load("0011223344556677"));
    const CReleaseState::Accepted accepted{.serial = 42, .list = HashPiece("list", 4)};
    EXPECT_EQ(state.Store("0011223344556677", accepted), "");
    EXPECT_EQ(state.Load("0011223344556677"), accepted);
    EXPECT_FALSE(state.Load("8899aabbccddeeff"));
    for (const std::string& garbage : {std::string(), std::string("VORN release-state 1\nserial x\n"),
                                       std::string("VORN release-state 1\nserial 42\nlist abcd\n")}) {
        WriteFile(fs::path(folder) / "release-0011223344556677", garbage);
        EXPECT_FALSE(state.Load("0011223344556677")) << garbage;
    }
    // Nothing but the record is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_NE(CReleaseState((dir.path() / "state/vorndownload/release-0011223344556677/x").string() + "/")
                  .Store("0011223344556677", accepted),
              "");
}

// A piece is checked once it is whole on disk, again whenever it is written
// again (what counts is what is on disk), taken out of the finished bytes when
// it is wrong, and refused when it is wrong a second time.
TEST(ReleaseList, APieceIsCheckedWhenWholeAndAgainWhenWrittenAgain)
{
    const std::string data = PatternBytes((3u << 20) + 5);
    ReleaseArchive archive;
    archive.name = "KEL_V12.zip";
    archive.size = data.size();
    for (std::size_t at = 0; at < data.size(); at += archive.pieceSize)
        archive.pieces.push_back(
            HashPiece(data.data() + at, std::min<std::size_t>(archive.pieceSize, data.size() - at)));
    TempDir dir;
    const CFile file = CFolder::OpenPath(dir.path().string(), false).OpenFile("part", FileOpen::ReadWrite);
    SharedFetch s(
        archive.size, file, archive.name, [] { return false; }, 1);
    CPieceCheck check(s, archive);
    s.pieces = &check;
    const auto write = [&](std::uint64_t at, const std::string& bytes) {
        ASSERT_TRUE(file.WriteAt(bytes.data(), bytes.size(), at).Ok());
        std::unique_lock<std::mutex> hold(s.lock);
        s.plan.Finish(at, bytes.size());
        check.Finished(at, bytes.size());
        check.Drain(hold);
    };
    const auto piece = [&](std::size_t i) { return ByteRange{archive.PieceBegin(i), archive.PieceEnd(i)}; };
    // A connection that wrote a piece from its first byte hashed it on the
    // way; one it began inside a piece it did not.
    CPieceCheck::Stream stream;
    std::vector<CPieceCheck::Stream::Hashed> done;
    for (std::size_t at = 1000; at < data.size(); at += 65536)
        stream.Add(archive, at, data.data() + at, std::min<std::size_t>(65536, data.size() - at), done);
    ASSERT_EQ(done.size(), 3u);
    for (std::size_t i = 0; i < done.size(); ++i) {
        EXPECT_EQ(done[i].piece, i + 1);
        EXPECT_EQ(done[i].hash, archive.pieces[i + 1]);
    }

    write(0, data.substr(0, 1500000));
    write(1500000, data.substr(1500000));
    EXPECT_TRUE(check.AllGood());
    EXPECT_TRUE(s.plan.Complete());

    std::string wrong = data.substr(1u << 20, 1000);
    wrong[10] ^= 0x01;
    write(1u << 20, wrong);
    EXPECT_FALSE(check.AllGood());
    EXPECT_FALSE(check.Refused());
    EXPECT_FALSE(s.plan.Covers(piece(1)));
    EXPECT_TRUE(s.plan.Covers(piece(0)) && s.plan.Covers(piece(2)) && s.plan.Covers(piece(3)));
    write(1u << 20, wrong + data.substr((1u << 20) + 1000, (1u << 20) - 1000));
    EXPECT_TRUE(check.Refused());
    EXPECT_TRUE(s.over);

    // A complete copy from an earlier run, its pieces shared between threads.
    const CFile whole = CFolder::OpenPath(dir.path().string(), false).OpenFile("whole", FileOpen::ReadWrite);
    ASSERT_TRUE(whole.WriteAt(data.data(), data.size(), 0).Ok());
    bool stopped = true;
    EXPECT_TRUE(CPieceCheck::WholeFileMatches(whole, archive, nullptr, stopped));
    EXPECT_FALSE(stopped);
    const char last = static_cast<char>(data.back() ^ 0x01);
    ASSERT_TRUE(whole.WriteAt(&last, 1, data.size() - 1).Ok());
    EXPECT_FALSE(CPieceCheck::WholeFileMatches(whole, archive, nullptr, stopped));
    EXPECT_FALSE(stopped);
    ASSERT_TRUE(whole.WriteAt(&data.back(), 1, data.size() - 1).Ok());
    EXPECT_FALSE(CPieceCheck::WholeFileMatches(
        whole, archive, [] { return true; }, stopped));
    EXPECT_TRUE(stopped);
}
