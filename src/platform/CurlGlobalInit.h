#pragma once
#include <curl/curl.h>

// curl_global_init for the process, called once before the first handle.
// Under AddressSanitizer libcurl's own allocations go through functions named
// LibcurlOwn*, so leak reports can tell what libcurl keeps from leaks of ours.
CURLcode CurlGlobalInit();
