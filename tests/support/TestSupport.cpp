#include "support/TestSupport.h"
#include "platform/CFolder.h"
#include "worker/CKELDownloadThread.h"
#include "worker/CReleaseList.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

FtpTestServer::FtpTestServer(const fs::path& root, std::vector<std::string> options)
    : TestServer("ftpserver.py", [&] {
          options.insert(options.begin(), {"--root", root.string()});
          return options;
      }())
{}

std::uint64_t TestServer::SentBytes() const
{
    std::uint64_t total = 0;
    std::ifstream in(m_state.path() / "log-sent");
    for (std::uint64_t n = 0; in >> n;)
        total += n;
    return total;
}

std::vector<std::string> TestServer::Commands() const
{
    std::vector<std::string> lines;
    std::ifstream in(m_state.path() / "log");
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

ServerEnvironment::ServerEnvironment(const TestServer& server)
{
    setenv("VORN_FTP_HOST", "127.0.0.1", 1);
    setenv("VORN_FTP_PORT", std::to_string(server.port()).c_str(), 1);
}

ServerEnvironment::~ServerEnvironment()
{
    unsetenv("VORN_FTP_HOST");
    unsetenv("VORN_FTP_PORT");
}

bool RunWorkerToEnd(const std::string& host, long port, const TempHome& home,
                    const std::shared_ptr<CNotifyChannel>& channel,
                    const std::function<void(CKELDownloadThread&)>& setUp)
{
    auto* worker = new CKELDownloadThread;
    worker->m_settings.host = host;
    worker->m_settings.port = port;
    worker->m_downloadFolder = home.Folder();
    worker->m_stateFolder = home.StateFolder();
    if (setUp)
        setUp(*worker);
    CWorkerHandle handle = CWorkerHandle::BeginSuspended(worker);
    worker->Wire(channel);
    handle.Resume();
    return handle.WaitFinished(std::chrono::seconds(60));
}

void RecordingReceiver::PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam)
{
    std::string status = m_channel ? m_channel->statusText.Get() : std::string();
    std::lock_guard guard(m_lock);
    m_notices.push_back({message, wParam, lParam, std::move(status)});
}

std::vector<Notice> RecordingReceiver::Take()
{
    std::lock_guard guard(m_lock);
    return std::exchange(m_notices, {});
}

void WriteFile(const fs::path& path, const std::string& data)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string PatternBytes(std::size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen());
    return s;
}

void RunPython(const std::string& code, const fs::path& out)
{
    TempDir dir;
    const fs::path script = dir.path() / "make.py";
    WriteFile(script, ForLinux(code));
    const std::string cmd = "/usr/bin/python3 '" + script.string() + "' '" + out.string() + "'";
    if (RunCommand(cmd) != 0)
        throw std::runtime_error("python helper failed: " + cmd);
}

void WriteZip(const fs::path& path, const std::string& entries)
{
    fs::create_directories(path.parent_path());
    RunPython("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n" + entries, path);
}

void PrintTo(const Notice& n, std::ostream* os)
{
    if (n.message == UM_PROGRESS_BAR)
        *os << "P(" << n.wParam << ", " << n.lParam << ")";
    else
        *os << "K(" << n.wParam << ", " << n.lParam << ", \"" << n.status << "\")";
}

void MakeCertificate(const fs::path& dir, const std::string& names)
{
    const std::string d = "'" + dir.string() + "'";
    const std::string cmd =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=vorn-test"
        " -addext 'subjectAltName=" +
        names + "' -keyout " + d + "/key.pem -out " + d +
        "/ca.pem 2>/dev/null"
        " && cat " +
        d + "/ca.pem " + d + "/key.pem > " + d + "/server.pem";
    if (RunCommand(cmd) != 0)
        throw std::runtime_error("openssl failed: " + cmd);
}

bool CanMakeLinks()
{
    const TempDir dir;
    std::error_code ec;
    fs::create_symlink(dir.path() / "target", dir.path() / "link", ec);
    return !ec;
}

namespace {

void Run(const std::string& cmd)
{
    if (RunCommand(cmd) != 0)
        throw std::runtime_error("failed: " + cmd);
}

std::string Quoted(const fs::path& p)
{
    return "'" + p.string() + "'";
}

void ReleaseZip(const fs::path& path, int number)
{
    // The comment closes the file, so its last byte can change with the zip still valid.
    RunPython("import sys, zipfile\n"
              "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
              "    z.comment = b'release " +
                  std::to_string(number) +
                  "'\n"
                  "    i = zipfile.ZipInfo('KEL_V12/KEL_V12/Setup.exe'); i.create_system = 3\n"
                  "    i.external_attr = 0o100755 << 16\n"
                  "    z.writestr(i, '#!/bin/sh\\necho release " +
                  std::to_string(number) + "\\n')\n",
              path);
}

}   // namespace

std::string MakeSigningKey(const fs::path& dir)
{
    fs::create_directories(dir);
    Run("minisign -G -W -f -p " + Quoted(dir / "key.pub") + " -s " + Quoted(dir / "key.sec") + " >/dev/null 2>&1");
    std::ifstream in(dir / "key.pub");
    std::string comment, key;
    std::getline(in, comment);
    std::getline(in, key);
    return key;
}

void SignFile(const fs::path& keyDir, const fs::path& file)
{
    Run("minisign -S -s " + Quoted(keyDir / "key.sec") + " -m " + Quoted(file) + " >/dev/null 2>&1");
}

fs::path ApplicationFolder(const fs::path& root)
{
    return root / "Digital Product Updates/KEL/KEL Software DVD/ZIP";
}

fs::path UpdateFolder(const fs::path& root)
{
    return root / "Digital Product Updates/KEL/KEL Update DVD/ZIP_Files";
}

namespace {

ReleaseArchive Described(const fs::path& file)
{
    const CFile f =
        CFolder::OpenPath(file.parent_path().string(), false).OpenFile(file.filename().string(), FileOpen::Read);
    std::string why;
    const std::optional<ReleaseArchive> a = ReleaseArchive::Describe(f, file.filename().string(), why);
    if (!a)
        throw std::runtime_error(file.string() + ": " + why);
    return *a;
}

CReleaseList ListFor(const fs::path& root, const ListedRelease& release)
{
    CReleaseList list;
    list.serial = release.serial;
    list.expires =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count() +
        release.validFor;
    list.application = Described(ApplicationFolder(root) / release.application);
    if (!release.update.empty())
        list.update = Described(UpdateFolder(root) / release.update);
    return list;
}

}   // namespace

void ListRelease(const fs::path& root, const fs::path& keyDir, const ListedRelease& release)
{
    const fs::path list = ApplicationFolder(root) / "KEL.release";
    WriteFile(list, ListFor(root, release).Text());
    SignFile(keyDir, list);
}

void SignedRelease(const fs::path& root, const fs::path& keyDir, Forgery forgery)
{
    const fs::path app = ApplicationFolder(root);
    const fs::path upd = UpdateFolder(root);
    fs::create_directories(app);
    fs::create_directories(upd);
    const fs::path archive = app / "KEL_V12.zip";
    ReleaseZip(archive, 12);
    RunPython("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n    z.writestr('patch.txt', 'p')\n",
              upd / "KELUPD01_02.zip");
    ListedRelease release;
    if (forgery == Forgery::NewerWithheld) {
        ReleaseZip(app / "KEL_V13.zip", 13);
        release.application = "KEL_V13.zip";
    }
    if (forgery == Forgery::Expired)
        release.validFor = -3600;
    ListRelease(root, keyDir, release);
    const fs::path list = app / "KEL.release";
    switch (forgery) {
    case Forgery::None:
    case Forgery::Expired:
        break;
    case Forgery::ByteChanged: {
        std::string bytes = ReadFile(archive);
        bytes.back() ^= 0x01;
        WriteFile(archive, bytes);
        break;
    }
    case Forgery::Unsigned:
        fs::remove(app / "KEL.release.minisig");
        break;
    case Forgery::OtherKey: {
        const TempDir other;
        MakeSigningKey(other.path());
        SignFile(other.path(), list);
        break;
    }
    case Forgery::Renamed:
        Run("minisign -S -s " + Quoted(keyDir / "key.sec") + " -m " + Quoted(list) +
            " -t 'file:KEL.release.old' >/dev/null 2>&1");
        break;
    case Forgery::NewerWithheld:
        fs::remove(app / "KEL_V13.zip");
        break;
    case Forgery::UpdateMissing:
        fs::remove(upd / "KELUPD01_02.zip");
        break;
    case Forgery::UpdateNotListed:
        fs::copy_file(upd / "KELUPD01_02.zip", upd / "KELUPD01_03.zip");
        break;
    case Forgery::Oversized:
        WriteFile(list, ReadFile(list) + std::string(1 << 20, '#'));
        SignFile(keyDir, list);
        break;
    }
}
