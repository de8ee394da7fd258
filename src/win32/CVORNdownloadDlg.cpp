#include "win32/CVORNdownloadDlg.h"

#include "platform/DownloadFolder.h"
#include "win32/CAboutDlg.h"
#include "window/AccessibleControls.h"
#include "window/WindowColours.h"
#include "window/resource.h"

#include <commctrl.h>
#include <windows.h>

#include <thread>

namespace {

// The engine's UTF-8 as the wide API takes it; a byte that is not UTF-8
// shows as the replacement character rather than losing the whole line.
std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

HFONT MakeFont(int height)
{
    return CreateFontA(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_TT_PRECIS, CLIP_STROKE_PRECIS,
                       DEFAULT_QUALITY, FF_SWISS, "Tahoma");
}

}   // namespace

CVORNdownloadDlg::CVORNdownloadDlg()
    : CColourDialogEx(IDD_VORNDOWNLOAD_DIALOG),
      CWindowLogic(this),
      m_hIcon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 0,
                                            0, LR_DEFAULTSIZE | LR_SHARED))),
      m_NormalFont(MakeFont(20)),
      m_LargeFont(MakeFont(30))
{
    m_downloadFolder = GetDownloadFolder();
}

CVORNdownloadDlg::~CVORNdownloadDlg()
{
    StopWorker();
}

BOOL CVORNdownloadDlg::OnInitDialog()
{
    if (const HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t about[128] = {};
        if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 128) > 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    m_AppName = GetDlgItem(m_hWnd, IDC_APP_NAME);
    m_AppCaption = GetDlgItem(m_hWnd, IDC_APP_CAPTION);
    m_OK.Attach(GetDlgItem(m_hWnd, IDOK));
    m_UpdateCaption = GetDlgItem(m_hWnd, IDC_UPDATE_CAPTION);
    m_AppProgress = GetDlgItem(m_hWnd, IDC_APP_PROGRESS);
    m_Message = GetDlgItem(m_hWnd, IDC_MESSAGE);
    m_UpdateName = GetDlgItem(m_hWnd, IDC_UPDATE_NAME);
    m_UpdateProgress = GetDlgItem(m_hWnd, IDC_UPDATE_PROGRESS);
    m_FolderCaption = GetDlgItem(m_hWnd, IDC_FOLDER_CAPTION);
    m_Folder = GetDlgItem(m_hWnd, IDC_FOLDER);

    for (const AccessibleControl& a : MainDialogAccessibleControls()) {
        const bool bar = a.id == IDC_APP_PROGRESS || a.id == IDC_UPDATE_PROGRESS;
        CAccessibleControl::Info& info = m_accessible[a.id];
        info = {bar ? CAccessibleControl::Kind::Bar : CAccessibleControl::Kind::Line, Wide(a.name),
                Wide(a.description)};
        (void)CAccessibleControl::Attach(GetDlgItem(m_hWnd, a.id), &info);   // without it, the system's own names
    }

    m_dpi = GetDpiForWindow(m_hWnd);
    MakeFonts();
    // The real folder, not the template's text, which names a folder that is not there.
    SetWindowTextW(m_Folder, Wide(m_downloadFolder).c_str());
    SetWindowTextW(m_AppName, L"");
    SetWindowTextW(m_UpdateName, L"");
    for (HWND bar : {m_AppProgress, m_UpdateProgress}) {
        SendMessageW(bar, PBM_SETRANGE32, 0, kBarSteps);
        ShowWindow(bar, SW_HIDE);
    }

    if (m_bStartWorker)
        StartWorker();
    // The system gives the focus to the first tab stop, OK: Enter, Space and
    // Escape close the window from the start.
    return TRUE;
}

int CVORNdownloadDlg::Scaled(int pixels) const
{
    return MulDiv(pixels, static_cast<int>(m_dpi), 96);
}

void CVORNdownloadDlg::MakeFonts()
{
    if (m_dpi != 96) {
        m_NormalFont.reset(MakeFont(Scaled(20)));
        m_LargeFont.reset(MakeFont(Scaled(30)));
    }
    m_fittedFonts.clear();
    for (HWND line : {m_AppName, m_AppCaption, m_UpdateCaption, m_UpdateName, m_FolderCaption, m_Message})
        SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(m_NormalFont.get()), TRUE);
    SendMessageW(m_Folder, WM_SETFONT, reinterpret_cast<WPARAM>(m_LargeFont.get()), TRUE);
}

HFONT CVORNdownloadDlg::FontOfHeight(int height)
{
    if (height == Scaled(20))
        return m_NormalFont.get();
    auto& font = m_fittedFonts[height];
    if (!font.get())
        font.reset(MakeFont(height));
    return font.get();
}

void CVORNdownloadDlg::SetLineText(HWND line, const std::string& text, int height)
{
    const std::wstring wide = Wide(text);
    // A download repeats its status for every piece within a percent: a
    // line is measured and laid out only when its text changes.
    std::wstring shown(static_cast<std::size_t>(GetWindowTextLengthW(line)) + 1, L'\0');
    shown.resize(static_cast<std::size_t>(GetWindowTextW(line, shown.data(), static_cast<int>(shown.size()))));
    if (shown == wide)
        return;
    const bool lines = wide.find(L'\n') != std::wstring::npos;
    // One line is centred and cut with an ellipsis; several lines wrap.
    LONG_PTR style = GetWindowLongPtrW(line, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_CENTERIMAGE | SS_ENDELLIPSIS);
    if (!lines)
        style |= SS_CENTERIMAGE | SS_ENDELLIPSIS;
    SetWindowLongPtrW(line, GWL_STYLE, style);

    RECT room{};
    GetClientRect(line, &room);
    LOGFONTW dialogFont{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)), sizeof dialogFont, &dialogFont);
    const int smallest = std::max(1, std::abs(static_cast<int>(dialogFont.lfHeight)) + Scaled(2));
    const HDC dc = GetDC(line);
    int fitted = Scaled(height);
    for (; fitted > smallest; --fitted) {
        const HGDIOBJ before = SelectObject(dc, FontOfHeight(fitted));
        RECT need{0, 0, room.right, 0};
        DrawTextW(dc, wide.c_str(), -1, &need, DT_CALCRECT | (lines ? DT_WORDBREAK : DT_SINGLELINE));
        SelectObject(dc, before);
        if (need.right <= room.right && need.bottom <= room.bottom)
            break;
    }
    ReleaseDC(line, dc);
    SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(FontOfHeight(fitted)), FALSE);
    SetWindowTextW(line, wide.c_str());
    InvalidateRect(line, nullptr, TRUE);
    if (m_accessible.contains(GetDlgCtrlID(line)))
        CAccessibleControl::ValueChanged(line);
}

HBRUSH CVORNdownloadDlg::OnCtlColor(HDC dc, HWND window, UINT nCtlColor)
{
    const HBRUSH brush = CColourDialogEx::OnCtlColor(dc, window, nCtlColor);
    if (nCtlColor == CTLCOLOR_STATIC) {
        if (const auto own = MainDialogTextColour(GetDlgCtrlID(window)))
            SetTextColor(dc, *own);
    }
    return brush;
}

bool CVORNdownloadDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    if (IsNotification(message)) {
        TakeNotices();
        result = 0;
        return true;
    }
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_ABOUTBOX)
            return false;
        OnSysCommand(static_cast<UINT>(wParam));
        return true;
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(m_hIcon);
        return true;
    case WM_DRAWITEM:
        if (wParam != IDOK)
            return false;
        m_OK.DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        result = TRUE;
        return true;
    case WM_DPICHANGED:
        // The system moves and scales the dialog; the fonts made here follow.
        m_dpi = HIWORD(wParam);
        MakeFonts();
        return false;
    default:
        return false;
    }
}

void CVORNdownloadDlg::OnSysCommand(UINT)
{
    CAboutDlg about;
    about.DoModal(m_hWnd);
}

bool CVORNdownloadDlg::OnPaint()
{
    if (!IsIconic(m_hWnd))
        return false;
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    DrawIcon(dc, (rect.right - rect.left - cxIcon + 1) / 2, (rect.bottom - rect.top - cyIcon + 1) / 2, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return true;
}

void CVORNdownloadDlg::PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam)
{
    // On the worker's thread, right after it wrote the slot this notice announces.
    {
        std::lock_guard guard(m_queueLock);
        m_queue.push_back(CProgressModel::Capture(*m_channel, message, wParam, lParam));
    }
    // The message only wakes the window: every notice waits in the queue, in
    // order, so one the full message queue refused is shown with the next.
    (void)::PostMessageW(m_hWnd, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

void CVORNdownloadDlg::TakeNotices()
{
    for (;;) {
        CProgressModel::Notice notice;
        {
            std::lock_guard guard(m_queueLock);
            if (m_queue.empty())
                return;
            notice = std::move(m_queue.front());
            m_queue.pop_front();
        }
        Take(notice);
    }
}

void CVORNdownloadDlg::ShowLine(Line line, const std::string& text)
{
    SetLineText(line == Line::AppName ? m_AppName : line == Line::UpdateName ? m_UpdateName : m_Message, text, 20);
}

void CVORNdownloadDlg::ShowBar(int stage, int position, bool shown)
{
    const HWND bar = stage == 1 ? m_AppProgress : m_UpdateProgress;
    const int before = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    if (before != position) {
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        // Read out in whole percent: told only when that changes.
        if (BarPercent(before, 0, kBarSteps) != BarPercent(position, 0, kBarSteps))
            CAccessibleControl::ValueChanged(bar);
    }
    if ((IsWindowVisible(bar) != FALSE) != shown)
        ShowWindow(bar, shown ? SW_SHOW : SW_HIDE);
}

void CVORNdownloadDlg::ShowVerdict(const std::string& text, const std::string& reason)
{
    // The reason is also the line's description, for screen readers.
    m_accessible[IDC_MESSAGE].description = Wide(StatusDescription(reason));
    NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, m_Message, OBJID_CLIENT, CHILDID_SELF);
    // A static control breaks lines at "\r\n".
    std::string lines;
    for (const char c : text)
        c == '\n' ? lines += "\r\n" : lines += c;
    SetLineText(m_Message, lines, 20);
}

void CVORNdownloadDlg::PaintNow()
{
    UpdateWindow(m_hWnd);
}

// The box has a thread of its own, which the program's end takes down with it.
void CVORNdownloadDlg::ShowProblem(const std::string& text)
{
    std::thread([text = Wide(text)] {
        MessageBoxW(nullptr, text.c_str(), L"VORNdownload", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
    }).detach();
}

void CVORNdownloadDlg::OnEnd(int result)
{
    // The worker stops through its flag and, while nothing is shown, leaves a
    // partial archive as "<name>.part" with its "<name>.part-state" for the
    // next run to resume from; the destructor waits for it. Told first: hiding
    // can hold this thread (Wine first waits for the window manager's word on
    // the window: 2 s where there is none).
    OnClose();
    ShowWindow(m_hWnd, SW_HIDE);   // gone from the screen at once
    CColourDialogEx::OnEnd(result);
}
