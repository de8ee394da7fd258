#pragma once
#include "platform/CFtpConnection.h"

#include <string>

struct FtpSettings {
    std::string host;
    long port = 21;
    std::string user;
    std::string password;
    FtpTls tls;
};

// The publisher's server: build-time host, password, TLS mode and extra
// trusted certificate, the public user, port 21; VORN_FTP_HOST and
// VORN_FTP_PORT override host and port for mirrors, tests and the demo.
FtpSettings GetFtpSettings();
