// The test support's POSIX side: temp folders, servers and commands of this system.
#include "support/TestSupport.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "vorn-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests make files read-only on purpose; give the owner rights back first.
    for (auto it = fs::recursive_directory_iterator(m_path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

TestServer::TestServer(const std::string& script, const std::vector<std::string>& options)
{
    const std::string portFile = (m_state.path() / "port").string();
    const std::string logFile = (m_state.path() / "log").string();
    std::vector<std::string> argv = {
        "/usr/bin/python3", VORN_SOURCE_DIR "/scripts/" + script, "--port-file", portFile, "--log", logFile};
    argv.insert(argv.end(), options.begin(), options.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        // Dies with the test, even when the test crashes, so no server holds
        // the test's output open.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(portFile);
        if (in >> m_port && m_port > 0)
            return;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error(script + " did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error(script + " did not report its port");
}

TestServer::~TestServer()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
}

int RunCommand(const std::string& command)
{
    return std::system(command.c_str());
}

std::string ForLinux(const std::string& text)
{
    return text;
}

bool LoopbackHasIPv6()
{
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return bound;
}

bool UnderWine()
{
    return false;
}

std::uintmax_t SpaceTaken(const fs::path& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<std::uintmax_t>(st.st_blocks) * 512 : 0;
}
