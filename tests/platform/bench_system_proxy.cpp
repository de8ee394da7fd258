// Times the system's proxy answer for one server as the first connection of a
// run asks it (later ones find it kept): prints the proxy ("direct" for none)
// and the milliseconds. scripts/bench/system-proxy runs it under Wine.
#include "platform/SystemProxy.h"

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    const std::string host = argc > 1 ? argv[1] : "ftp.example.com";
    const auto start = std::chrono::steady_clock::now();
    const std::string proxy = SystemProxyFor(host, 21, std::chrono::seconds(30), {});
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::printf("%s %.1f ms\n", proxy.empty() ? "direct" : proxy.c_str(), took.count());
    return 0;
}
