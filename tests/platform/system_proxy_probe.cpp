// Asks the system for the proxy of one server as the first connection of a run
// does, and prints the answer ("direct" for none) and the milliseconds it took:
//   system_proxy_probe HOST [BOUND_MS, default 30000] [STOP_AFTER_MS]
// STOP_AFTER_MS stops the question after that long, as a run being stopped
// does. Used by tests/cli/windows-proxy-job and scripts/bench/system-proxy.
#include "platform/SystemProxy.h"

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    using namespace std::chrono;
    const std::string host = argc > 1 ? argv[1] : "ftp.example.com";
    const milliseconds bound(argc > 2 ? std::stol(argv[2]) : 30000);
    const auto start = steady_clock::now();
    const auto stopAt = argc > 3 ? start + milliseconds(std::stol(argv[3])) : steady_clock::time_point::max();
    const std::string proxy = SystemProxyFor(host, 21, bound, [&] { return steady_clock::now() >= stopAt; });
    const duration<double, std::milli> took = steady_clock::now() - start;
    std::printf("%s %.1f ms\n", proxy.empty() ? "direct" : proxy.c_str(), took.count());
    return 0;
}
