#include "platform/CFolder.h"
#include "support/TestSupport.h"
#include "worker/CArchiveHasher.h"
#include "worker/CReleaseSignature.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
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

// The hasher follows what is on disk as it grows and stops where it is told;
// the rest is hashed afterwards, each byte once.
TEST(ReleaseSignature, TheHasherFollowsTheFileAsItGrowsAndTheRestIsHashedOnce)
{
    Signed f;
    CReleaseSignature s(f.key);
    ASSERT_TRUE(s.Accept(f.Signature(), "KEL_V12.zip"));
    TempDir dir;
    const fs::path part = dir.path() / "part";
    WriteFile(part, "");
    std::fstream writer(part, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(writer);
    // Written where the download would write: in place, at once on disk.
    const auto write = [&](std::size_t at, std::size_t size) {
        writer.seekp(static_cast<std::streamoff>(at));
        writer.write(f.data.data() + at, static_cast<std::streamsize>(size));
        return static_cast<bool>(writer.flush());
    };
    const CFile file = CFolder::OpenPath(dir.path().string(), false).OpenFile("part", FileOpen::Read);
    ASSERT_TRUE(file.IsOpen());
    std::atomic<std::uint64_t> ready{0};
    {
        CArchiveHasher hasher(s, file, [&] { return ready.load(); });
        for (std::size_t at = 0; at < 200000; at += 10000) {
            ASSERT_TRUE(write(at, 10000));
            ready = at + 10000;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Written beyond what is ready: not hashed by the follower.
        ASSERT_TRUE(write(200000, 100000));
    }
    EXPECT_LE(s.Hashed(), 200000u);
    EXPECT_TRUE(CArchiveHasher::HashRest(s, file, {}));
    EXPECT_EQ(s.Hashed(), f.data.size());
    EXPECT_TRUE(s.Verify());
    // A stop ends the rest at once.
    s.Accept(f.Signature(), "KEL_V12.zip");
    EXPECT_FALSE(CArchiveHasher::HashRest(s, file, [] { return true; }));
}
