// Name lookup on Windows: getaddrinfo on a thread of its own, waited for in
// 50 ms steps, so a limit or a stop ends the wait whatever the resolver does.
// A lookup given up on finishes by itself and its answer is dropped.
#include "platform/LookUpHost.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::vector<std::string> addresses;
};

// Winsock is started once for the process and left to its end.
bool StartWinsock()
{
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

std::vector<std::string> Resolve(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::vector<std::string> addresses;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0)
        return addresses;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = a->ai_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr);
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) && inet_ntop(a->ai_family, raw, text, sizeof text))
            addresses.emplace_back(text);
    }
    freeaddrinfo(list);
    return addresses;
}

}   // namespace

std::vector<std::string> LookUpHost(const std::string& host, std::chrono::milliseconds limit,
                                    const std::function<bool()>& stop)
{
    if (host.empty() || !StartWinsock())
        return {};
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] {
        std::vector<std::string> found = Resolve(host);
        std::lock_guard<std::mutex> hold(lookup->lock);
        lookup->addresses = std::move(found);
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    const auto until = std::chrono::steady_clock::now() + limit;
    std::unique_lock<std::mutex> hold(lookup->lock);
    while (!lookup->finished) {
        if ((stop && stop()) || std::chrono::steady_clock::now() >= until)
            return {};
        lookup->done.wait_for(hold, std::chrono::milliseconds(50));
    }
    // A stop wins over an answer that came first, as on Linux.
    if (stop && stop())
        return {};
    return lookup->addresses;
}
