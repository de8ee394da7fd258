// Lists the root folder of an FTP server on 127.0.0.1 and fetches a zip archive
// with the cross-built libcurl, then reads its first entry with libzip, as the
// Windows programs will: the static libraries link, curl has the features the
// engine relies on and reaches the server. libsodium, liblzma and libzstd are
// called once so that they are known to link as well.
//   cross_smoke PORT NAME
// prints the libraries' versions and curl's features, the names listed,
// "NAME: <bytes> bytes" and "entry <name>: <bytes> bytes"; exits 1 on any failure.
#include <curl/curl.h>
#include <lzma.h>
#include <sodium.h>
#include <zip.h>
#include <zstd.h>

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

// The name and size of the archive's first entry, read whole through libzip.
bool ReadFirstEntry(std::string& archive)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
    zip_t* za = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (!za) {
        std::printf("zip: %s\n", zip_error_strerror(&error));
        zip_source_free(source);
        zip_error_fini(&error);
        return false;
    }
    zip_error_fini(&error);
    std::size_t total = 0;
    zip_file_t* entry = zip_fopen_index(za, 0, 0);
    char buffer[2048];
    for (zip_int64_t n = 0; entry && (n = zip_fread(entry, buffer, sizeof buffer)) > 0;)
        total += static_cast<std::size_t>(n);
    const bool ok = entry && zip_fclose(entry) == 0;
    std::printf("entry %s: %zu bytes\n", zip_get_name(za, 0, 0), total);
    zip_close(za);
    return ok;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: cross_smoke PORT NAME\n");
        return 2;
    }
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK || sodium_init() < 0)
        return 1;
    std::printf("libzip %s libsodium %s liblzma %s libzstd %s\n", zip_libzip_version(), sodium_version_string(),
                lzma_version_string(), ZSTD_versionString());
    const curl_version_info_data* v = curl_version_info(CURLVERSION_NOW);
    std::printf("curl %s %s%s%s%s%s%s\n", v->version, v->ssl_version ? v->ssl_version : "no-tls",
                (v->features & CURL_VERSION_IPV6) ? " IPv6" : "",
                (v->features & CURL_VERSION_ASYNCHDNS) ? " AsynchDNS" : "",
                (v->features & CURL_VERSION_SSPI) ? " SSPI" : "", (v->features & CURL_VERSION_NTLM) ? " NTLM" : "",
                (v->features & CURL_VERSION_SPNEGO) ? " SPNEGO" : "");

    const std::string base = std::string("ftp://127.0.0.1:") + argv[1] + "/";
    std::string names;
    std::string file;
    bool ok = Fetch(base, true, names) && Fetch(base + argv[2], false, file);
    std::printf("%s%s: %zu bytes\n", names.c_str(), argv[2], file.size());
    ok = ok && ReadFirstEntry(file);
    curl_global_cleanup();
    return ok ? 0 : 1;
}
