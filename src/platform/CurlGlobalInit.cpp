#include "platform/CurlGlobalInit.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
namespace {

// Plain C allocation; only the names matter (see tests/lsan.supp).
void* LibcurlOwnMalloc(std::size_t size)
{
    return std::malloc(size);
}

void LibcurlOwnFree(void* p)
{
    std::free(p);
}

void* LibcurlOwnRealloc(void* p, std::size_t size)
{
    return std::realloc(p, size);
}

char* LibcurlOwnStrdup(const char* s)
{
    const std::size_t n = std::strlen(s) + 1;
    auto* copy = static_cast<char*>(std::malloc(n));
    if (copy)
        std::memcpy(copy, s, n);
    return copy;
}

void* LibcurlOwnCalloc(std::size_t count, std::size_t size)
{
    return std::calloc(count, size);
}

}   // namespace
#endif

CURLcode CurlGlobalInit()
{
#if defined(__SANITIZE_ADDRESS__)
    return curl_global_init_mem(CURL_GLOBAL_DEFAULT, LibcurlOwnMalloc, LibcurlOwnFree, LibcurlOwnRealloc,
                                LibcurlOwnStrdup, LibcurlOwnCalloc);
#else
    return curl_global_init(CURL_GLOBAL_DEFAULT);
#endif
}
