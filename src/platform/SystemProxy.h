#pragma once
#include <chrono>
#include <functional>
#include <string>

// The proxy the user's system settings give for an FTP session to host:port,
// as libcurl takes it ("http://host:port", "socks4://host:port"), or "" for
// none: direct, or left to the environment that libcurl reads itself. Linux
// keeps no such setting of its own beyond the environment. On Windows an
// automatic configuration (detection or a script) is asked with a wait of at
// most `bound`, given up at once when `cancelled` says so; what it cannot
// answer falls back to the proxy set by hand. Answers are kept for the process.
std::string SystemProxyFor(const std::string& host, long port, std::chrono::milliseconds bound,
                           const std::function<bool()>& cancelled);
