// Watches the window program from outside, through its real controls, as the
// test's only view of it: finds the dialog by its caption, follows its lines and
// bars during the job, checks what they show at the end, closes the window and
// checks that the program ends.
//   window_probe complete   a whole job: a bar seen moving, both names,
//                           "Download Complete", the installer started
//   window_probe failed     a run that fails: the failure and its reason,
//                           no installer started
//   window_probe closed     closed once a bar is under way: the program ends
// Prints what it sees; exits 0 when every check held, 1 otherwise.
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr wchar_t kCaption[] = L"Download KEL from VORN FTP Site";
constexpr wchar_t kMarker[] = L"C:\\setup-started.txt";
constexpr int kAppName = 1002, kUpdateName = 1006, kMessage = 1008, kFolder = 1010;
constexpr int kAppBar = 1004, kUpdateBar = 1007;
constexpr int kBarTop = 10000;
// A window that does not answer within this long is taken as hung.
constexpr UINT kAnswerMs = 5000;

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), bytes, nullptr, nullptr);
    return out;
}

// One line for the log: line breaks shown as such.
std::string Shown(const std::wstring& text)
{
    std::string out;
    for (const char c : Utf8(text))
        out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return out;
}

bool failed = false;

void Check(bool ok, const std::string& what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    std::fflush(stdout);
    failed = failed || !ok;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerMs, &answer))
        return -1;
    return static_cast<LRESULT>(answer);
}

std::wstring TextOf(HWND window)
{
    std::vector<wchar_t> buffer(4096, L'\0');
    if (Ask(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data())) < 0)
        return L"<no answer>";
    return buffer.data();
}

std::wstring Line(HWND dialog, int id)
{
    const HWND line = GetDlgItem(dialog, id);
    return line ? TextOf(line) : L"<no control>";
}

// What a screen reader in another process is given for a control: its name,
// value and description through oleacc, "name | value | description".
std::wstring Heard(HWND dialog, int id)
{
    IAccessible* object = nullptr;
    const HRESULT found = AccessibleObjectFromWindow(GetDlgItem(dialog, id), static_cast<DWORD>(OBJID_CLIENT),
                                                     __uuidof(IAccessible), reinterpret_cast<void**>(&object));
    if (FAILED(found) || !object)
        return L"<no object: " + std::to_wstring(found) + L">";
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    std::wstring heard;
    using Getter = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);
    for (const Getter get : {Getter(&IAccessible::get_accName), Getter(&IAccessible::get_accValue),
                             Getter(&IAccessible::get_accDescription)}) {
        BSTR text = nullptr;
        if (!heard.empty())
            heard += L" | ";
        if ((object->*get)(self, &text) == S_OK && text)
            heard.append(text, SysStringLen(text));
        SysFreeString(text);
    }
    object->Release();
    return heard;
}

struct Bar {
    bool exists = false;
    bool visible = false;
    long low = 0, high = 0, pos = 0;
    bool operator==(const Bar&) const = default;
};

Bar BarOf(HWND dialog, int id)
{
    Bar bar;
    const HWND control = GetDlgItem(dialog, id);
    if (!control)
        return bar;
    bar.exists = true;
    bar.visible = IsWindowVisible(control) != FALSE;
    // With no PBRANGE to fill (it would be this process's pointer), the message
    // answers the low or the high end itself.
    bar.low = static_cast<long>(Ask(control, PBM_GETRANGE, TRUE, 0));
    bar.high = static_cast<long>(Ask(control, PBM_GETRANGE, FALSE, 0));
    bar.pos = static_cast<long>(Ask(control, PBM_GETPOS, 0, 0));
    return bar;
}

std::string Describe(const char* name, const Bar& bar)
{
    if (!bar.exists)
        return std::string(name) + " bar: no control";
    return std::string(name) + " bar: " + (bar.visible ? "visible" : "hidden") + ", " + std::to_string(bar.pos) +
           " in " + std::to_string(bar.low) + ".." + std::to_string(bar.high);
}

// The program's window: its caption, in a process of VORNdownload.exe (a test
// may show the same dialog in a process of its own).
BOOL CALLBACK FindProgramWindow(HWND window, LPARAM found)
{
    wchar_t caption[64] = {};
    if (GetWindowTextW(window, caption, 64) <= 0 || std::wstring(caption) != kCaption)
        return TRUE;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const bool named = process && QueryFullProcessImageNameW(process, 0, image, &size) &&
                       std::wstring(image, size).ends_with(L"\\VORNdownload.exe");
    if (process)
        CloseHandle(process);
    if (!named)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

HWND FindDialog(Clock::duration within)
{
    const auto end = Clock::now() + within;
    for (;;) {
        HWND found = nullptr;
        EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&found));
        if (found)
            return found;
        if (Clock::now() > end)
            return nullptr;
        std::this_thread::sleep_for(100ms);
    }
}

enum class Mode { Complete, Failed, Closed };

bool IsEnd(const std::wstring& message)
{
    return message == L"Download Complete" || message.starts_with(L"Download Failed") ||
           message.starts_with(L"Internet Failed");
}

// A bar is seen moving when, visible with the scaled range, it shows two
// different positions strictly between its ends.
struct BarWatch {
    const char* name;
    int id;
    Bar last;
    long firstMid = -1;
    bool moved = false;

    void Sample(HWND dialog)
    {
        const Bar now = BarOf(dialog, id);
        if (!(now == last))
            std::printf("  %s\n", Describe(name, now).c_str());
        last = now;
        if (!now.visible || now.low != 0 || now.high != kBarTop || now.pos <= 0 || now.pos >= kBarTop)
            return;
        if (firstMid < 0) {
            firstMid = now.pos;
            // Read out as the bar's whole percent, between this position and the next.
            const std::wstring heard = Heard(dialog, id);
            const long after = BarOf(dialog, id).pos;
            const auto percent = heard.find(L" | ") + 3;
            const int said = percent < heard.size() ? _wtoi(heard.c_str() + percent) : -1;
            Check(said >= now.pos / 100 && said <= after / 100 && heard.find(L" %") != std::wstring::npos,
                  std::string(name) + " bar at " + std::to_string(now.pos) + " of 10000 heard as \"" + Shown(heard) +
                      "\"");
        } else if (now.pos != firstMid) {
            moved = true;
        }
    }
};

// Follows the window until its message line shows the run's end, or (for
// `underWay`) until a bar shows a position between its ends. Returns the last
// message line.
std::wstring FollowJob(HWND dialog, std::vector<BarWatch>& bars, bool underWay)
{
    const auto end = Clock::now() + 90s;
    std::wstring shown;
    while (Clock::now() < end && IsWindow(dialog)) {
        for (BarWatch& bar : bars)
            bar.Sample(dialog);
        const std::wstring message = Line(dialog, kMessage);
        if (message != shown) {
            std::printf("message: %s\n", Shown(message).c_str());
            std::fflush(stdout);
            shown = message;
        }
        if (IsEnd(message) || (underWay && (bars[0].firstMid >= 0 || bars[1].firstMid >= 0)))
            return message;
        std::this_thread::sleep_for(15ms);
    }
    Check(false, IsWindow(dialog) ? "the run ended within 90 s" : "the window stayed during the job");
    return shown;
}

bool FileExists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForMarker(Clock::duration within)
{
    const auto end = Clock::now() + within;
    while (!FileExists(kMarker)) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

struct ProcessWindows {
    DWORD process;
    HWND dialog;
    std::vector<HWND> others;
};

BOOL CALLBACK CollectOther(HWND window, LPARAM context)
{
    auto* found = reinterpret_cast<ProcessWindows*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == found->process && window != found->dialog && IsWindowVisible(window))
        found->others.push_back(window);
    return TRUE;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM)
{
    const std::wstring text = TextOf(child);
    if (!text.empty())
        std::printf("    %s\n", Shown(text).c_str());
    return TRUE;
}

// Other visible windows of the program (a message box after a failure): shown
// in the log, and closed so that the dialog can be.
std::size_t CloseOtherWindows(HWND dialog, DWORD process)
{
    ProcessWindows found{process, dialog, {}};
    EnumWindows(CollectOther, reinterpret_cast<LPARAM>(&found));
    for (const HWND other : found.others) {
        std::printf("another window of the program: \"%s\"\n", Shown(TextOf(other)).c_str());
        EnumChildWindows(other, PrintChild, 0);
        PostMessageW(other, WM_CLOSE, 0, 0);
    }
    std::fflush(stdout);
    if (!found.others.empty())
        std::this_thread::sleep_for(1s);
    return found.others.size();
}

std::wstring DownloadFolder()
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, 2) + L"\\VORN Download";
}

void CheckLines(HWND dialog, bool complete)
{
    const std::wstring message = Line(dialog, kMessage);
    const std::wstring app = Line(dialog, kAppName), update = Line(dialog, kUpdateName);
    const std::wstring folder = Line(dialog, kFolder);
    std::printf("at the end: message \"%s\"\napplication \"%s\"\nupdate \"%s\"\nfolder \"%s\"\n",
                Shown(message).c_str(), Shown(app).c_str(), Shown(update).c_str(), Shown(folder).c_str());
    Check(folder.find(DownloadFolder()) != std::wstring::npos, "the folder line names " + Utf8(DownloadFolder()));
    if (complete) {
        Check(message == L"Download Complete", "the message line ends \"Download Complete\"");
        Check(app == L"KEL_V12", "the application line names KEL_V12");
        Check(update == L"KELUPD02_01", "the update line names KELUPD02_01");
    } else {
        const auto second = message.find(L'\n');
        Check(message.starts_with(L"Download Failed - Try Again"),
              "the message line ends \"Download Failed - Try Again\"");
        Check(second != std::wstring::npos && second + 1 < message.size(), "the reason follows on a second line");
        Check(app.empty(), "the application line names nothing");
    }
    for (const int id : {kAppBar, kUpdateBar}) {
        const Bar bar = BarOf(dialog, id);
        Check(bar.exists && !bar.visible, Describe(id == kAppBar ? "application" : "update", bar) + " (hidden)");
    }
    std::printf("a screen reader is given (name | value | description):\n");
    for (const int id : {kAppName, kAppBar, kUpdateName, kUpdateBar, kFolder, kMessage, static_cast<int>(IDOK)})
        std::printf("  %d: %s\n", id, Shown(Heard(dialog, id)).c_str());
    Check(Heard(dialog, kMessage).starts_with(L"Status | " + message), "the message line is read as Status, its text");
}

void CloseAndWait(HWND dialog, HANDLE process, DWORD processId, bool alone)
{
    const std::size_t others = CloseOtherWindows(dialog, processId);
    if (alone)
        Check(others == 0, "no other window of the program");
    // How long the window stays on the screen and the program runs after the
    // close, printed for the record (timed in the benchmark, not asserted).
    const auto closed = std::chrono::steady_clock::now();
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    while (IsWindowVisible(dialog) && std::chrono::steady_clock::now() - closed < 30s)
        std::this_thread::sleep_for(5ms);
    const auto hidden = std::chrono::steady_clock::now();
    const DWORD waited = process ? WaitForSingleObject(process, 30000) : WAIT_FAILED;
    const auto ended = std::chrono::steady_clock::now();
    auto ms = [&](auto t) { return std::chrono::duration_cast<std::chrono::milliseconds>(t - closed).count(); };
    std::printf("closed: hidden after %lld ms, ended after %lld ms\n", static_cast<long long>(ms(hidden)),
                static_cast<long long>(ms(ended)));
    DWORD code = STILL_ACTIVE;
    if (process)
        GetExitCodeProcess(process, &code);
    Check(waited == WAIT_OBJECT_0,
          "the program ended within 30 s of WM_CLOSE (exit code " + std::to_string(code) + ")");
}

}   // namespace

int main(int argc, char** argv)
{
    const std::string name = argc > 1 ? argv[1] : "";
    if (name != "complete" && name != "failed" && name != "closed") {
        std::fprintf(stderr, "usage: window_probe complete|failed|closed\n");
        return 2;
    }
    const Mode mode = name == "complete" ? Mode::Complete : name == "failed" ? Mode::Failed : Mode::Closed;
    // oleacc hands over the window's objects through COM.
    (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool complete = mode == Mode::Complete;
    const HWND dialog = FindDialog(60s);
    Check(dialog != nullptr, "a window captioned \"Download KEL from VORN FTP Site\" within 60 s");
    if (!dialog)
        return 1;
    DWORD processId = 0;
    GetWindowThreadProcessId(dialog, &processId);
    const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);

    std::vector<BarWatch> bars{{"application", kAppBar, {}}, {"update", kUpdateBar, {}}};
    const std::wstring message = FollowJob(dialog, bars, mode == Mode::Closed);
    if (mode == Mode::Closed) {
        Check(!IsEnd(message), "the run still under way when the window is closed");
        CloseAndWait(dialog, process, processId, true);
        if (process)
            CloseHandle(process);
        return failed ? 1 : 0;
    }
    if (complete)
        Check(bars[0].moved || bars[1].moved, "a bar seen visible and moving in 0..10000 during the job");
    // Installer started or not, the window is still there afterwards, and its
    // lines stay as they were: the hold for the installer is at most 5 s.
    const bool started = WaitForMarker(complete ? 30s : 8s);
    Check(started == complete,
          complete ? "the installer started within 30 s of the end" : "no installer started within 8 s of the end");
    Check(IsWindow(dialog) != FALSE, "the window stays after the end");
    if (IsWindow(dialog))
        CheckLines(dialog, complete);
    CloseAndWait(dialog, process, processId, complete);
    if (process)
        CloseHandle(process);
    return failed ? 1 : 0;
}
