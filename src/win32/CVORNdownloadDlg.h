#pragma once
#include "platform/INotifyReceiver.h"
#include "win32/CAccessibleControl.h"
#include "win32/CColourButton.h"
#include "win32/CColourDialogEx.h"
#include "win32/GdiObject.h"
#include "window/CWindowLogic.h"

#include <windows.h>
// windows.h names PostMessageW so; here it is the receiver's member.
#undef PostMessage

#include <deque>
#include <map>
#include <mutex>
#include <string>

// The main window: names found, two progress bars, the message line and the
// Download folder, as Win32 controls. What it shows and when, and the job
// itself, are the window logic's; this class draws it.
class CVORNdownloadDlg : public CColourDialogEx, public INotifyReceiver, public CWindowLogic {
public:
    CVORNdownloadDlg();
    ~CVORNdownloadDlg() override;

    HBRUSH OnCtlColor(HDC dc, HWND window, UINT nCtlColor) override;
    // From the worker's thread: the notice is queued with the texts it
    // announces, and its registered message posted to the window.
    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override;

    HICON m_hIcon;
    GdiObject<HFONT> m_NormalFont;
    GdiObject<HFONT> m_LargeFont;
    HWND m_AppName = nullptr;
    HWND m_AppCaption = nullptr;
    CColourButton m_OK;
    HWND m_UpdateCaption = nullptr;
    HWND m_AppProgress = nullptr;
    HWND m_Message = nullptr;
    HWND m_UpdateName = nullptr;
    HWND m_UpdateProgress = nullptr;
    HWND m_FolderCaption = nullptr;
    HWND m_Folder = nullptr;
    // Off for tests that drive the window without a job.
    bool m_bStartWorker = true;

protected:
    BOOL OnInitDialog() override;
    void OnEnd(int result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

    void ShowLine(Line line, const std::string& text) override;
    void ShowVerdict(const std::string& text, const std::string& reason) override;
    void ShowBar(int stage, int position, bool shown) override;
    void PaintNow() override;
    void ShowProblem(const std::string& text) override;

private:
    void OnSysCommand(UINT id);
    bool OnPaint();
    // The four registered messages: each shows the notices queued so far.
    void TakeNotices();

    // Fonts at the window's DPI, made again when it moves to another screen.
    void MakeFonts();
    HFONT FontOfHeight(int height);
    // Sets a line's text in the largest font from `height` down to the
    // dialog's own that fits it (its end cut off beyond that).
    void SetLineText(HWND line, const std::string& text, int height);
    int Scaled(int pixels) const;

    std::mutex m_queueLock;
    std::deque<CProgressModel::Notice> m_queue;
    std::map<int, GdiObject<HFONT>> m_fittedFonts;
    // What screen readers are told of the named controls, by control id.
    std::map<int, CAccessibleControl::Info> m_accessible;
    UINT m_dpi = 96;
};
