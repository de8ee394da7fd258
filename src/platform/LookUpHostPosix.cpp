#include "platform/LookUpHost.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace {

// One request of getaddrinfo_a; the library writes into it until it is done.
struct Request {
    std::string host;
    addrinfo hints{};
    gaicb block{};
};

// The address of one answer as text; empty for a family other than IPv4 and IPv6.
std::string AddressText(const addrinfo& a)
{
    const void* raw = nullptr;
    if (a.ai_family == AF_INET6 && a.ai_addrlen >= sizeof(sockaddr_in6))
        raw = &reinterpret_cast<const sockaddr_in6*>(a.ai_addr)->sin6_addr;
    else if (a.ai_family == AF_INET && a.ai_addrlen >= sizeof(sockaddr_in))
        raw = &reinterpret_cast<const sockaddr_in*>(a.ai_addr)->sin_addr;
    char text[INET6_ADDRSTRLEN];
    return raw && inet_ntop(a.ai_family, raw, text, sizeof text) ? std::string(text) : std::string();
}

}   // namespace

std::vector<std::string> LookUpHost(const std::string& host, std::chrono::milliseconds limit,
                                    const std::function<bool()>& stop)
{
    auto request = std::make_unique<Request>();
    request->host = host;
    request->hints.ai_family = AF_UNSPEC;
    request->hints.ai_socktype = SOCK_STREAM;
    request->block.ar_name = request->host.c_str();
    request->block.ar_request = &request->hints;
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer cannot run code on the C library's own resolver threads
    // (it crashes there), so that build asks in place, without a bound.
    (void)limit;
    const int error = getaddrinfo(request->host.c_str(), nullptr, &request->hints, &request->block.ar_result);
#else
    gaicb* list[] = {&request->block};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0)
        return {};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (gai_error(&request->block) == EAI_INPROGRESS) {
        if ((stop && stop()) || std::chrono::steady_clock::now() >= deadline) {
            if (gai_cancel(&request->block) == EAI_NOTCANCELED) {
                // Still inside the resolver, which writes into the request
                // when it returns: it is left to it, a few hundred bytes.
                (void)request.release();   // deliberately not freed
                return {};
            }
            break;   // cancelled, or finished meanwhile: either way given up
        }
        const timespec slice{0, 50'000'000};
        const gaicb* wait[] = {&request->block};
        gai_suspend(wait, 1, &slice);   // woken early when done; the loop asks again
    }
    const int error = gai_error(&request->block);
#endif

    std::vector<std::string> addresses;
    addrinfo* const result = request->block.ar_result;
    if (error == 0 && !(stop && stop()))
        for (const addrinfo* a = result; a; a = a->ai_next)
            if (std::string text = AddressText(*a); !text.empty())
                addresses.push_back(std::move(text));
    if (result)
        freeaddrinfo(result);
    return addresses;
}
