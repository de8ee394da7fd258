#include "worker/FtpSettings.h"

#include "VornBuiltInCa.h"
#include "worker/ReleaseKey.h"

#include <cstdlib>
#include <cstring>

namespace {

// Front ends call these before the worker thread exists, so nothing else
// touches the environment meanwhile.
const char* Env(const char* name)
{
    return std::getenv(name);   // NOLINT(concurrency-mt-unsafe): read before any thread starts
}

}   // namespace

const char* const kNoPublisherHost = "this build names no publisher host: set VORN_FTP_HOST to the server's name, "
                                     "or build with -DVORN_FTP_HOST=<the publisher's host>";

std::optional<long> ParseFtpPort(const std::string& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long value = std::stol(text);
    if (value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

FtpSettings GetFtpSettings()
{
    FtpSettings s;
    // The placeholder is a reserved name: looking it up would only send a
    // query off the machine to learn what the build already knows.
    if (std::strcmp(VORN_FTP_HOST_DEFAULT, VORN_FTP_HOST_PLACEHOLDER) != 0)
        s.host = VORN_FTP_HOST_DEFAULT;
    s.port = VORN_FTP_PORT_DEFAULT;
    s.user = "vornpublic";
    s.password = VORN_FTP_PASSWORD_DEFAULT;
    // The build checks the value; anything but these two means "try".
    s.tls.mode = std::strcmp(VORN_FTP_TLS_DEFAULT, "off") == 0       ? FtpTls::Mode::Off
                 : std::strcmp(VORN_FTP_TLS_DEFAULT, "require") == 0 ? FtpTls::Mode::Require
                                                                     : FtpTls::Mode::Try;
    s.tls.caPem = kBuiltInCaPem;
    s.releaseKey = BuiltInReleaseKey();
    if (const char* host = Env("VORN_FTP_HOST"); host && *host)
        s.host = host;
    // A malformed port is refused by the front ends (FtpSettingsProblem) before
    // a worker is built; here it can only keep the default.
    if (const char* port = Env("VORN_FTP_PORT"); port && *port)
        s.port = ParseFtpPort(port).value_or(s.port);
    return s;
}

std::string FtpSettingsProblem()
{
    const char* port = Env("VORN_FTP_PORT");
    if (!port || !*port || ParseFtpPort(port))
        return {};
    return "VORN_FTP_PORT \"" + std::string(port) + "\" is not a port number (1 to 65535)";
}
