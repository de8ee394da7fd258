#include "platform/CFtpConnection.h"
#include "platform/CFtpFile.h"
#include "platform/CFtpFileFind.h"
#include "platform/CInternetException.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace std::chrono_literals;

namespace {

const char* kPassword = "Public12345";

std::unique_ptr<CFtpConnection> Connect(const FtpTestServer& server, FtpTimeouts timeouts = {})
{
    return std::make_unique<CFtpConnection>("127.0.0.1", server.port(), "vornpublic", kPassword, true, timeouts);
}

std::string ReadAll(CFtpFile& file, std::size_t step = 65536)
{
    std::string data, buffer(step, '\0');
    while (std::size_t n = file.Read(buffer.data(), step))
        data.append(buffer.data(), n);
    return data;
}

struct Listed {
    std::string name;
    std::uint64_t size;
    bool operator==(const Listed&) const = default;
};

std::vector<Listed> ListNames(CFtpConnection& c)
{
    std::vector<Listed> out;
    CFtpFileFind finder(c);
    bool more = finder.FindFile();
    while (more && finder.FindNextFile())
        out.push_back({finder.GetFileName(), finder.GetLength()});
    finder.Close();
    return out;
}

}   // namespace

TEST(FtpConnection, LoginRefusedOrServerAbsentThrows)
{
    TempDir root;
    {
        FtpTestServer server(root.path(), {"--refuse-login"});
        EXPECT_THROW(Connect(server), CInternetException);
    }
    FtpTestServer server(root.path());
    EXPECT_THROW(CFtpConnection("127.0.0.1", server.port(), "vornpublic", "wrong", true), CInternetException);
    // Nothing listens on port 1 of loopback.
    EXPECT_THROW(CFtpConnection("127.0.0.1", 1, "vornpublic", kPassword, true, {2s, 2s}), CInternetException);
}

TEST(FtpConnection, FolderChangesReportMissingFoldersAndClimbWithDotDot)
{
    TempDir root;
    WriteFile(root.path() / "A B" / "inner" / "deep.txt", "deep");
    WriteFile(root.path() / "A B" / "top.txt", "top");
    FtpTestServer server(root.path());
    auto c = Connect(server);

    EXPECT_FALSE(c->SetCurrentDirectory("missing"));
    EXPECT_EQ(c->GetCurrentDirectory(), "/");
    ASSERT_TRUE(c->SetCurrentDirectory("A B"));
    ASSERT_TRUE(c->SetCurrentDirectory("inner"));
    EXPECT_EQ(ListNames(*c), (std::vector<Listed>{{"deep.txt", 4}}));
    EXPECT_FALSE(c->SetCurrentDirectory("deep.txt"));   // a file is not a folder
    ASSERT_TRUE(c->SetCurrentDirectory(".."));
    EXPECT_EQ(ListNames(*c).size(), 2u);
    ASSERT_TRUE(c->SetCurrentDirectory(".."));
    ASSERT_TRUE(c->SetCurrentDirectory(".."));   // above the login folder the server stays at its root
    EXPECT_EQ(ListNames(*c), (std::vector<Listed>{{"A B", ListNames(*c).at(0).size}}));
}

TEST(FtpConnection, UnixAndDosListingsGiveTheSameNamesAndSizesInServerOrder)
{
    TempDir root;
    WriteFile(root.path() / "KEL_V12 Full.zip", std::string(1234, 'x'));
    WriteFile(root.path() / "plain.zip", "");
    WriteFile(root.path() / "two  blanks .zip", std::string(70000, 'y'));
    fs::create_directory(root.path() / "A Folder");
    std::vector<std::vector<Listed>> seen;
    for (const char* style : {"unix", "dos"}) {
        FtpTestServer server(root.path(), {"--listing", style});
        auto c = Connect(server);
        auto names = ListNames(*c);
        std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return a.name < b.name; });
        seen.push_back(names);
    }
    ASSERT_EQ(seen[0].size(), 4u);
    ASSERT_EQ(seen[1].size(), 4u);
    const auto file = [&](const std::string& name) {
        auto it = std::find_if(seen[0].begin(), seen[0].end(), [&](auto& l) { return l.name == name; });
        return it == seen[0].end() ? Listed{"(missing)", 0} : *it;
    };
    EXPECT_EQ(file("KEL_V12 Full.zip").size, 1234u);
    EXPECT_EQ(file("plain.zip").size, 0u);
    EXPECT_EQ(file("two  blanks .zip").size, 70000u);
    // Folder sizes differ between styles; files must not.
    for (std::size_t i = 0; i < seen[0].size(); ++i) {
        EXPECT_EQ(seen[0][i].name, seen[1][i].name);
        if (seen[0][i].name != "A Folder") {
            EXPECT_EQ(seen[0][i].size, seen[1][i].size) << seen[0][i].name;
        }
    }
}

TEST(FtpConnection, SizesAbove4GiBSurviveTheListing)
{
    TempDir root;
    const std::uint64_t big = 5ull * 1024 * 1024 * 1024 + 7;
    // Sparse: takes no disk space.
    WriteFile(root.path() / "sparse.zip", "");
    fs::resize_file(root.path() / "sparse.zip", big);
    WriteFile(root.path() / "faked.zip", "abc");
    for (const char* style : {"unix", "dos"}) {
        FtpTestServer server(root.path(), {"--listing", style, "--fake-size", "faked.zip=6000000000"});
        auto c = Connect(server);
        auto names = ListNames(*c);
        std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return a.name < b.name; });
        EXPECT_EQ(names, (std::vector<Listed>{{"faked.zip", 6000000000ull}, {"sparse.zip", big}})) << style;
    }
}

TEST(FtpFile, ReadsWholeFilesInAnyStepAndRefusesMissingOnes)
{
    TempDir root;
    const std::string data = PatternBytes(1000003);
    WriteFile(root.path() / "data.bin", data);
    WriteFile(root.path() / "empty.bin", "");
    FtpTestServer server(root.path());
    auto c = Connect(server);

    EXPECT_EQ(c->OpenFile("missing.bin"), nullptr);
    for (std::size_t step : {1000u, 65536u, 1u << 20}) {
        auto f = c->OpenFile("data.bin");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->Read(nullptr, 0), 0u);
        EXPECT_EQ(ReadAll(*f, step), data) << step;
        EXPECT_EQ(f->Read(nullptr, 0), 0u);
    }
    auto empty = c->OpenFile("empty.bin");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(ReadAll(*empty), "");

    // Stopping early aborts the transfer; the connection still works afterwards.
    auto partial = c->OpenFile("data.bin");
    char head[10];
    ASSERT_EQ(partial->Read(head, sizeof head), sizeof head);
    EXPECT_EQ(std::string(head, 10), data.substr(0, 10));
    // One transfer at a time; the refused second one leaves the first alone.
    EXPECT_THROW(c->OpenFile("empty.bin"), CInternetException);
    ASSERT_EQ(partial->Read(head, sizeof head), sizeof head);
    EXPECT_EQ(std::string(head, 10), data.substr(10, 10));
    partial->Close();
    partial.reset();
    EXPECT_EQ(ListNames(*c).size(), 2u);
    auto again = c->OpenFile("data.bin");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(ReadAll(*again), data);
}

TEST(FtpFile, DroppedConnectionThrows)
{
    TempDir root;
    WriteFile(root.path() / "data.bin", PatternBytes(1 << 20));
    FtpTestServer server(root.path(), {"--drop-after", "100000"});
    auto c = Connect(server);
    auto f = c->OpenFile("data.bin");
    ASSERT_NE(f, nullptr);
    EXPECT_THROW(ReadAll(*f), CInternetException);
}

TEST(FtpFile, StalledServerEndsWithAnErrorWithinTheTimeout)
{
    TempDir root;
    WriteFile(root.path() / "data.bin", PatternBytes(1 << 20));
    FtpTestServer server(root.path(), {"--stall-after", "100000"});
    auto c = Connect(server, {5s, 1s});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(
        {
            auto f = c->OpenFile("data.bin");
            ASSERT_NE(f, nullptr);
            ReadAll(*f);
        },
        CInternetException);
    // curl averages speed over a few seconds before its 1 s limit starts.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

TEST(FtpFile, CancellationEndsABlockedReadPromptly)
{
    TempDir root;
    WriteFile(root.path() / "data.bin", PatternBytes(1 << 20));
    FtpTestServer server(root.path(), {"--stall-after", "1000"});
    std::atomic<bool> cancel{false};
    CFtpConnection c("127.0.0.1", server.port(), "vornpublic", kPassword, true, {}, [&] { return cancel.load(); });
    auto f = c.OpenFile("data.bin");
    ASSERT_NE(f, nullptr);
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        cancel = true;
    });
    // Ended by the cancellation itself, not by the stall limit.
    try {
        ReadAll(*f);
        ADD_FAILURE() << "the read went on after the cancellation";
    } catch (const CInternetException& e) {
        EXPECT_EQ(e.Kind(), FtpError::Stopped) << e.what();
    }
    stopper.join();
}

namespace {

struct TlsServerFiles {
    TempDir root;
    TempDir certs;
    explicit TlsServerFiles(const std::string& names)
    {
        WriteFile(root.path() / "data.bin", PatternBytes(300000));
        MakeCertificate(certs.path(), names);
    }
    std::vector<std::string> Options(std::vector<std::string> more = {}) const
    {
        more.insert(more.begin(), {"--tls-cert", (certs.path() / "server.pem").string()});
        return more;
    }
    FtpTls Trusting(FtpTls::Mode mode = FtpTls::Mode::Try) const { return {mode, ReadFile(certs.path() / "ca.pem")}; }
};

std::unique_ptr<CFtpConnection> ConnectTls(long port, const FtpTls& tls, const std::string& host = "127.0.0.1")
{
    return std::make_unique<CFtpConnection>(host, port, "vornpublic", kPassword, true, FtpTimeouts{5s, 5s},
                                            std::function<bool()>{}, tls);
}

bool Has(const std::vector<std::string>& commands, const std::string& command)
{
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

// The reason a connection attempt failed with, or "(connected)".
std::string FailureOf(long port, const FtpTls& tls, const std::string& host = "127.0.0.1")
{
    try {
        ConnectTls(port, tls, host);
        return "(connected)";
    } catch (const CInternetException& e) {
        return e.Reason();
    }
}

}   // namespace

TEST(FtpTls, OfferedOrRequiredTheWholeSessionIsEncryptedAndDataConnectionsResumeIt)
{
    TlsServerFiles files("DNS:localhost,IP:127.0.0.1,IP:::1");
    for (bool required : {false, true}) {
        SCOPED_TRACE(required ? "required" : "offered");
        FtpTestServer server(files.root.path(),
                             files.Options(required ? std::vector<std::string>{"--tls-required", "--require-reuse"}
                                                    : std::vector<std::string>{}));
        auto c = ConnectTls(server.port(), files.Trusting(required ? FtpTls::Mode::Require : FtpTls::Mode::Try),
                            required ? "localhost" : "127.0.0.1");
        EXPECT_EQ(ListNames(*c), (std::vector<Listed>{{"data.bin", 300000}}));
        auto f = c->OpenFile("data.bin");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(ReadAll(*f), PatternBytes(300000));
        f->Close();
        const auto commands = server.Commands();
        ASSERT_GE(commands.size(), 5u);
        // Encrypted before the user name goes out, and data protected.
        EXPECT_EQ(commands.at(0), "AUTH TLS");
        EXPECT_EQ(commands.at(1), "USER vornpublic");
        EXPECT_TRUE(Has(commands, "PBSZ 0"));
        EXPECT_TRUE(Has(commands, "PROT P"));
    }
}

TEST(FtpTls, FailedChecksEndTheSessionWithoutEverFallingBackToClearText)
{
    // Names are matched by kind on both systems: an address only by an
    // address of the certificate, a name only by a name.
    TlsServerFiles files("DNS:other.example,DNS:127.0.0.1,IP:127.0.0.2");
    {
        FtpTestServer server(files.root.path(), files.Options({"--tls-required", "--require-reuse"}));
        EXPECT_EQ(FailureOf(server.port(), files.Trusting()), "the server's certificate is for another name");
        EXPECT_EQ(FailureOf(server.port(), files.Trusting(), "localhost"),
                  "the server's certificate is for another name");
        // Not trusted at all: only the system's authorities (on Windows its store) count.
        EXPECT_EQ(FailureOf(server.port(), {}), "the server's certificate is not trusted");
        const TlsServerFiles other("IP:127.0.0.1");
        EXPECT_EQ(FailureOf(server.port(), other.Trusting(FtpTls::Mode::Require)),
                  "the server's certificate is not trusted");
        for (const auto& c : server.Commands())
            EXPECT_EQ(c.rfind("USER", 0), std::string::npos) << c;
    }
    {
        TempDir root;
        FtpTestServer plain(root.path());
        EXPECT_EQ(FailureOf(plain.port(), files.Trusting(FtpTls::Mode::Require)),
                  "the server does not offer an encrypted session");
        for (const auto& c : plain.Commands())
            EXPECT_EQ(c.rfind("USER", 0), std::string::npos) << c;
        // Where it is not offered, "try" logs in as before.
        EXPECT_EQ(FailureOf(plain.port(), files.Trusting()), "(connected)");
    }
    FtpTestServer required(files.root.path(), files.Options({"--tls-required"}));
    EXPECT_EQ(FailureOf(required.port(), {FtpTls::Mode::Off, {}}), "the server refused the login");
}

TEST(FtpTransfer, StartsAtAnOffsetHandsPiecesWithTheirOffsetsAndReportsTheFileTime)
{
    TempDir root;
    const std::string data = PatternBytes(300000);
    WriteFile(root.path() / "data.bin", data);
    fs::last_write_time(root.path() / "data.bin", fs::file_time_type::clock::now() - std::chrono::hours(48));
    FtpTestServer server(root.path());
    auto c = Connect(server);
    EXPECT_FALSE(c->BeginTransfer("missing.bin", [](std::uint64_t, const char*, std::size_t n) { return n; }));

    std::string got;
    bool offsetsRight = true;
    ASSERT_TRUE(c->BeginTransfer(
        "data.bin",
        [&](std::uint64_t offset, const char* piece, std::size_t n) {
            offsetsRight &= offset == 100000 + got.size();
            got.append(piece, n);
            return n;
        },
        100000, true));
    while (!c->DriveTransfer()) {
    }
    c->EndTransfer();
    EXPECT_TRUE(offsetsRight);
    EXPECT_TRUE(got == data.substr(100000)) << got.size();
    const auto age = std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(c->TransferFileTime());
    EXPECT_GT(age, std::chrono::hours(47));
    EXPECT_LT(age, std::chrono::hours(49));
    // The connection is free again and still logged in once.
    EXPECT_EQ(ListNames(*c).size(), 1u);
    const auto commands = server.Commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](auto& l) { return l.rfind("USER", 0) == 0; }), 1);
    EXPECT_NE(std::find(commands.begin(), commands.end(), "REST 100000"), commands.end());
}
