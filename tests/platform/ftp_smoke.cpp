// Lists the root folder of an FTP server on 127.0.0.1 and fetches one file with
// the cross-built libcurl, as the Windows programs will: the static library
// links, has the features the engine relies on, and reaches the server.
//   ftp_smoke PORT NAME
// prints the library's version and features, the names listed, then
// "NAME: <bytes> bytes"; exits 1 on any failure.
#include <curl/curl.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

std::size_t Append(char* data, std::size_t size, std::size_t count, void* out)
{
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// The body of `url`, or the reason it could not be had.
bool Fetch(const std::string& url, bool namesOnly, std::string& body)
{
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return false;
    CURL* h = easy.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
    curl_easy_setopt(h, CURLOPT_USERNAME, "vornpublic");
    curl_easy_setopt(h, CURLOPT_PASSWORD, "Public12345");
    curl_easy_setopt(h, CURLOPT_DIRLISTONLY, namesOnly ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    const CURLcode rc = curl_easy_perform(h);
    if (rc != CURLE_OK)
        std::printf("%s: %s\n", url.c_str(), curl_easy_strerror(rc));
    return rc == CURLE_OK;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: ftp_smoke PORT NAME\n");
        return 2;
    }
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return 1;
    const curl_version_info_data* v = curl_version_info(CURLVERSION_NOW);
    std::printf("curl %s %s%s%s\n", v->version, v->ssl_version ? v->ssl_version : "no-tls",
                (v->features & CURL_VERSION_IPV6) ? " IPv6" : "",
                (v->features & CURL_VERSION_ASYNCHDNS) ? " AsynchDNS" : "");

    const std::string base = std::string("ftp://127.0.0.1:") + argv[1] + "/";
    std::string names;
    std::string file;
    const bool ok = Fetch(base, true, names) && Fetch(base + argv[2], false, file);
    std::printf("%s%s: %zu bytes\n", names.c_str(), argv[2], file.size());
    curl_global_cleanup();
    return ok ? 0 : 1;
}
