#pragma once
#include "platform/CFtpConnection.h"

#include <optional>
#include <string>

struct FtpSettings {
    std::string host;
    long port = 21;
    std::string user;
    std::string password;
    FtpTls tls;
    // The publisher's minisign public key; empty: archives are not verified.
    std::string releaseKey;
};

// The publisher's server: build-time host, password, TLS mode and extra
// trusted certificate and release key, the public user, port 21; VORN_FTP_HOST and
// VORN_FTP_PORT override host and port for mirrors, tests and the demo.
// Read on the starting thread, before any worker runs.
FtpSettings GetFtpSettings();

// A port number 1..65535 written in decimal digits only; nothing otherwise.
std::optional<long> ParseFtpPort(const std::string& text);

// Empty when VORN_FTP_PORT is unset or a port; otherwise a sentence naming the
// value, for the front ends to refuse to start with.
std::string FtpSettingsProblem();
