#include "worker/FtpSettings.h"

#include <cstdlib>
#include <cstring>

FtpSettings GetFtpSettings()
{
    FtpSettings s;
    s.host = VORN_FTP_HOST_DEFAULT;
    s.user = "vornpublic";
    s.password = VORN_FTP_PASSWORD_DEFAULT;
    // The build checks the value; anything but these two means "try".
    s.tls.mode = std::strcmp(VORN_FTP_TLS_DEFAULT, "off") == 0       ? FtpTls::Mode::Off
                 : std::strcmp(VORN_FTP_TLS_DEFAULT, "require") == 0 ? FtpTls::Mode::Require
                                                                     : FtpTls::Mode::Try;
    s.tls.caFile = VORN_FTP_CA_DEFAULT;
    if (const char* host = std::getenv("VORN_FTP_HOST"); host && *host)
        s.host = host;
    if (const char* port = std::getenv("VORN_FTP_PORT"); port && *port) {
        char* end = nullptr;
        const long value = std::strtol(port, &end, 10);
        // A malformed port is ignored rather than guessed at.
        if (end && *end == '\0' && value > 0 && value < 65536)
            s.port = value;
    }
    return s;
}
