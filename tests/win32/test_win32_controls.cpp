// The Windows window's colours and its button's face, painted into a bitmap
// of our own and read back pixel by pixel; what a screen reader is told of it.
#include "platform/CMessageRegistry.h"
#include "win32/CColourButton.h"
#include "win32/CColourDialogEx.h"
#include "win32/CVORNdownloadDlg.h"
#include "window/AccessibleControls.h"
#include "window/resource.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// A 32-bit bitmap selected into a memory device context.
class Canvas {
public:
    Canvas(int width, int height) : m_dc(CreateCompatibleDC(nullptr))
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
        m_before = SelectObject(m_dc, m_bitmap);
        m_width = width;
    }
    ~Canvas()
    {
        SelectObject(m_dc, m_before);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    HDC dc() const { return m_dc; }
    COLORREF At(int x, int y) const
    {
        GdiFlush();
        const DWORD p = static_cast<const DWORD*>(m_bits)[y * m_width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

private:
    HDC m_dc;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_before = nullptr;
    void* m_bits = nullptr;
    int m_width = 0;
};

COLORREF BrushColour(HBRUSH brush)
{
    LOGBRUSH b{};
    GetObjectW(brush, sizeof b, &b);
    return b.lbColor;
}

// A child window with a control id, for the requests that name one.
class Control {
public:
    explicit Control(int id)
        : m_parent(CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)),
          m_window(CreateWindowW(L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, m_parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr))
    {}
    ~Control() { DestroyWindow(m_parent); }
    HWND get() const { return m_window; }

private:
    HWND m_parent;
    HWND m_window;
};

constexpr COLORREF kUnset = RGB(1, 2, 3);

}   // namespace

TEST(Win32Colours, DialogsAnswerWithTheDarkBrushAndStaticsWhiteOnItsColour)
{
    CColourDialogEx dialog(IDD_ABOUTBOX);
    ASSERT_NE(dialog.m_brBkBrush.get(), nullptr);
    EXPECT_EQ(BrushColour(dialog.m_brBkBrush.get()), RGB(85, 85, 85));
    Canvas canvas(4, 4);
    const Control label(IDC_STATIC);
    for (UINT kind : {CTLCOLOR_DLG, CTLCOLOR_BTN}) {
        SetTextColor(canvas.dc(), kUnset);
        EXPECT_EQ(dialog.OnCtlColor(canvas.dc(), label.get(), kind), dialog.m_brBkBrush.get());
        EXPECT_EQ(GetTextColor(canvas.dc()), kUnset) << kind;
    }
    EXPECT_EQ(dialog.OnCtlColor(canvas.dc(), label.get(), CTLCOLOR_STATIC), dialog.m_brBkBrush.get());
    EXPECT_EQ(GetTextColor(canvas.dc()), RGB(255, 255, 255));
    EXPECT_EQ(GetBkColor(canvas.dc()), BrushColour(dialog.m_brBkBrush.get()));
    // The other kinds get what a plain dialog answers: the system's own look.
    for (UINT kind : {CTLCOLOR_MSGBOX, CTLCOLOR_EDIT, CTLCOLOR_LISTBOX, CTLCOLOR_SCROLLBAR})
        EXPECT_EQ(dialog.OnCtlColor(canvas.dc(), label.get(), kind), nullptr) << kind;
}

TEST(Win32Colours, TheMainDialogColoursTheMessageAndFolderLinesByIdAlone)
{
    CVORNdownloadDlg dialog;   // not shown: no worker starts
    Canvas canvas(4, 4);
    const struct {
        int id;
        COLORREF text;
    } lines[] = {{IDC_MESSAGE, RGB(255, 255, 0)}, {IDC_FOLDER, RGB(0, 255, 255)}, {IDC_APP_NAME, RGB(255, 255, 255)}};
    for (const auto& line : lines) {
        const Control control(line.id);
        EXPECT_EQ(dialog.OnCtlColor(canvas.dc(), control.get(), CTLCOLOR_STATIC), dialog.m_brBkBrush.get());
        EXPECT_EQ(GetTextColor(canvas.dc()), line.text) << line.id;
    }
    const Control message(IDC_MESSAGE);
    SetTextColor(canvas.dc(), kUnset);
    dialog.OnCtlColor(canvas.dc(), message.get(), CTLCOLOR_BTN);
    EXPECT_EQ(GetTextColor(canvas.dc()), kUnset);
}

TEST(Win32ColourButton, PaintsItsFaceEdgeAndFocusAndSwitchesColoursWithThePointer)
{
    HWND window =
        CreateWindowW(L"BUTTON", L"OK", WS_POPUP | BS_PUSHBUTTON, 0, 0, 80, 30, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    CColourButton button;
    button.Attach(window);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    // The dialog marks its default button by style; the button stays owner-drawn.
    SendMessageW(window, BM_SETSTYLE, BS_DEFPUSHBUTTON, FALSE);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);

    auto paint = [&](UINT state) {
        auto canvas = std::make_unique<Canvas>(80, 30);
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.hwndItem = window;
        item.hDC = canvas->dc();
        item.rcItem = RECT{0, 0, 80, 30};
        item.itemState = state;
        button.DrawItem(&item);
        return canvas;
    };
    const auto normal = paint(0);
    EXPECT_EQ(normal->At(8, 6), RGB(0, 123, 204));   // the face, clear of edge and caption
    EXPECT_NE(normal->At(0, 0), RGB(0, 123, 204));   // the raised edge's light corner
    EXPECT_NE(normal->At(79, 29), RGB(0, 123, 204));
    bool caption = false;   // white somewhere in the middle row: the centred "OK"
    for (int x = 20; x < 60; ++x)
        caption = caption || normal->At(x, 15) == RGB(255, 255, 255);
    EXPECT_TRUE(caption);
    EXPECT_EQ(normal->At(5, 5), RGB(0, 123, 204));
    // The focus rectangle, dotted, on the row 5 pixels in and nowhere above it.
    const auto focused = paint(ODS_FOCUS);
    int dots = 0;
    for (int x = 5; x < 15; ++x) {
        dots += focused->At(x, 5) != RGB(0, 123, 204);
        EXPECT_EQ(focused->At(x, 4), RGB(0, 123, 204)) << x;
    }
    EXPECT_GE(dots, 4);

    button.OnMouseMove(0, POINT{10, 10});
    EXPECT_EQ(paint(0)->At(8, 6), RGB(0, 0, 255));
    EXPECT_EQ(paint(ODS_SELECTED)->At(8, 6), RGB(0, 0, 255));   // pressed: the colour state stays
    button.OnMouseLeave();
    EXPECT_EQ(paint(0)->At(8, 6), RGB(0, 123, 204));
    DestroyWindow(window);
}

namespace {

// What oleacc gives a client for a control's client area.
struct Heard {
    HRESULT found = E_FAIL;
    std::wstring name, value, description;
    LONG role = 0;
};

std::wstring Take(BSTR text)
{
    std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return out;
}

Heard Hear(HWND control)
{
    Heard heard;
    IAccessible* object = nullptr;
    heard.found = AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&object));
    if (FAILED(heard.found) || !object)
        return heard;
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    if (object->get_accName(self, &text) == S_OK)
        heard.name = Take(text);
    if (object->get_accValue(self, &text) == S_OK)
        heard.value = Take(text);
    if (object->get_accDescription(self, &text) == S_OK)
        heard.description = Take(text);
    VARIANT role{};
    if (object->get_accRole(self, &role) == S_OK && role.vt == VT_I4)
        heard.role = role.lVal;
    object->Release();
    return heard;
}

std::wstring Wide(const char* text)
{
    return {text, text + std::char_traits<char>::length(text)};
}

BOOL CALLBACK FirstWindow(HWND window, LPARAM found)
{
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}   // namespace

// Through oleacc from another thread, as a screen reader asks from its own
// process: each named control's name, role and description, a bar's value in
// percent as the worker's notices move it, a line's text as its value; OK has
// the focus and is the default button, so Enter closes the window.
TEST(Win32Accessibility, ControlsAreNamedBarsReadInPercentAndEnterReachesOk)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CVORNdownloadDlg dialog;
    dialog.m_bStartWorker = false;
    const DWORD windowThread = GetCurrentThreadId();
    std::atomic<bool> ended = false;
    std::vector<std::string> failures;
    auto check = [&](bool ok, const std::string& what) {
        if (!ok)
            failures.push_back(what);
    };
    std::thread reader([&] {
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        HWND window = nullptr;
        for (int i = 0; i < 600 && !ended && !(window && IsWindowVisible(window)); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EnumThreadWindows(windowThread, FirstWindow, reinterpret_cast<LPARAM>(&window));
        }
        check(window != nullptr, "the window shows within 30 s");
        if (!window)
            return;
        for (const AccessibleControl& a : MainDialogAccessibleControls()) {
            const Heard heard = Hear(GetDlgItem(window, a.id));
            const bool bar = a.id == IDC_APP_PROGRESS || a.id == IDC_UPDATE_PROGRESS;
            check(heard.found == S_OK, std::string(a.name) + ": an object, HRESULT " + std::to_string(heard.found));
            check(heard.name == Wide(a.name), std::string(a.name) + ": its name");
            check(heard.description == Wide(a.description), std::string(a.name) + ": its description");
            check(heard.role == (bar ? ROLE_SYSTEM_PROGRESSBAR : ROLE_SYSTEM_STATICTEXT),
                  std::string(a.name) + ": role");
        }
        check(Hear(GetDlgItem(window, IDC_APP_CAPTION)).name == L"KEL Application File Found",
              "a caption is read by its own text");
        check(Hear(GetDlgItem(window, IDOK)).name == L"OK", "the button is read as OK");

        // The worker's way: a slot written, then the notice posted.
        dialog.m_channel->appName.Set("KEL_V12");
        dialog.PostMessage(CMessageRegistry::Register(kFilenameUpdateName), kApplicationChosen, 0);
        const unsigned progress = CMessageRegistry::Register(kProgressBarName);
        dialog.PostMessage(progress, 0, 1000);
        dialog.PostMessage(progress, 394, 1000);
        const HWND bar = GetDlgItem(window, IDC_APP_PROGRESS);
        for (int i = 0; i < 600 && SendMessageW(bar, PBM_GETPOS, 0, 0) != 3940; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const Heard moved = Hear(bar);
        check(moved.value == L"39 %", "the bar at 394 of 1000 reads \"39 %\"");
        check(Hear(GetDlgItem(window, IDC_APP_NAME)).value == L"KEL_V12", "the application line's value is its text");
        check(Hear(GetDlgItem(window, IDC_UPDATE_PROGRESS)).value == L"0 %", "the idle bar reads \"0 %\"");

        const HWND ok = GetDlgItem(window, IDOK);
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        // The first tab stop takes the focus whenever the window is active.
        check(GetNextDlgTabItem(window, nullptr, FALSE) == ok, "OK is the first tab stop");
        check(GetGUIThreadInfo(windowThread, &gui) && (gui.hwndActive != window || gui.hwndFocus == ok),
              "OK has the focus in the active window");
        check(SendMessageW(window, DM_GETDEFID, 0, 0) == MAKELONG(IDOK, DC_HASDEFID), "OK is the default button");
        check((GetWindowLongPtrW(ok, GWL_STYLE) & WS_TABSTOP) != 0 && GetNextDlgTabItem(window, ok, FALSE) == ok,
              "OK is the one tab stop");
        PostMessageW(ok, WM_KEYDOWN, VK_RETURN, 0);
        CoUninitialize();
    });
    const INT_PTR result = dialog.DoModal();
    ended = true;
    reader.join();
    for (const std::string& failure : failures)
        ADD_FAILURE() << failure;
    EXPECT_EQ(result, IDOK) << "Enter on the window";
    if (SUCCEEDED(com))
        CoUninitialize();
}
