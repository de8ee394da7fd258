// vorndownload: the window program. It takes nothing from its command line.
#include "app/CVORNdownloadApp.h"
#include "worker/FtpSettings.h"
#include "worker/ReleaseKey.h"

#include <QMessageBox>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

const char kNoDisplay[] =
    "vorndownload: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
    "vorndownload-cli does the same download in a terminal.\n";

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);   // NOLINT(concurrency-mt-unsafe): no thread runs yet
    return value && *value;
}

// Qt aborts the process when no platform plugin can start, so ask first. Qt
// takes QT_QPA_PLATFORM as a ";" list of plugins tried in turn, each with
// optional ":" arguments; plugins other than xcb and wayland need no display.
bool DisplayAvailable()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");   // NOLINT(concurrency-mt-unsafe): no thread runs yet
    std::string_view list = platform ? platform : "";
    if (list.empty())
        return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
    while (!list.empty()) {
        const std::string_view entry = list.substr(0, list.find(';'));
        list.remove_prefix(std::min(list.size(), entry.size() + 1));
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (name == "xcb" ? IsSet("DISPLAY") : name.starts_with("wayland") ? IsSet("WAYLAND_DISPLAY") : !name.empty())
            return true;
    }
    return false;
}

// A display that is named but cannot be reached still ends in Qt's fatal
// message while the application object is built: say what to do instead of
// aborting.
bool g_starting = true;
QtMessageHandler g_qtHandler = nullptr;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg && g_starting) {
        std::fputs("vorndownload: the window cannot be opened: the display cannot be reached (see above).\n"
                   "vorndownload-cli does the same download in a terminal.\n",
                   stderr);
        std::_Exit(1);
    }
    if (g_qtHandler)
        g_qtHandler(type, context, text);
}

}   // namespace

int main(int, char** argv)
{
    if (!DisplayAvailable()) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    g_qtHandler = qInstallMessageHandler(OnQtMessage);
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    CVORNdownloadApp app(argc, args);
    g_starting = false;
    if (const std::string problem = FtpSettingsProblem(); !problem.empty()) {
        std::fprintf(stderr, "vorndownload: %s\n", problem.c_str());
        QMessageBox::critical(nullptr, QStringLiteral("VORNdownload"), QString::fromStdString(problem));
        return 1;
    }
    if (*BuiltInReleaseKey() == '\0')
        std::fprintf(stderr, "vorndownload: %s\n", kReleasesNotVerified);
    app.InitInstance();
    return 0;
}
