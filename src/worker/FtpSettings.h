#pragma once
#include "platform/CFtpConnection.h"

#include <optional>
#include <string>

struct FtpSettings {
    // Empty when the build kept the placeholder host and VORN_FTP_HOST names
    // none: there is no publisher to look up or connect to.
    std::string host;
    long port = 21;
    std::string user;
    std::string password;
    FtpTls tls;
    // The publisher's minisign public key, which the release list is checked
    // against; empty: releases are not verified.
    std::string releaseKey;
};

// The publisher's server: build-time host, port, password, TLS mode and extra
// trusted certificates and release key, the public user; VORN_FTP_HOST and
// VORN_FTP_PORT override host and port for mirrors, tests and the demo.
// A build with the placeholder host and no VORN_FTP_HOST gets an empty host.
// Read on the starting thread, before any worker runs.
FtpSettings GetFtpSettings();

// A port number 1..65535 written in decimal digits only; nothing otherwise.
std::optional<long> ParseFtpPort(const std::string& text);

// Why a run with an empty host ends at once, and how to name one.
extern const char* const kNoPublisherHost;

// Empty when VORN_FTP_PORT is unset or a port; otherwise a sentence naming the
// value, for the front ends to refuse to start with.
std::string FtpSettingsProblem();
