#pragma once
#include <curl/curl.h>

#include <memory>

struct CurlEasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
