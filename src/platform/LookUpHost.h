#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

// The addresses of `host` as text ("127.0.0.1", "::1"), IPv6 and IPv4 alike,
// in the resolver's order; none when it does not resolve, when `limit` has
// passed or as soon as `stop` answers true (asked every 50 ms).
std::vector<std::string> LookUpHost(const std::string& host, std::chrono::milliseconds limit,
                                    const std::function<bool()>& stop = {});
