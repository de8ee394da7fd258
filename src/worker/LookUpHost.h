#pragma once
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// The addresses of `host`, IPv6 and IPv4 alike, in the resolver's order;
// none when it does not resolve, when `limit` has passed or as soon as
// `stop` answers true (asked every 50 ms).
std::vector<sockaddr_storage> LookUpHost(const std::string& host, std::chrono::milliseconds limit,
                                         const std::function<bool()>& stop = {});
