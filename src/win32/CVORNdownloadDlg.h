#pragma once
#include "platform/CNotifyChannel.h"
#include "platform/CWorkerThread.h"
#include "win32/CColourButton.h"
#include "win32/CColourDialogEx.h"
#include "win32/GdiObject.h"
#include "worker/CProgressModel.h"
#include "worker/ReleaseKey.h"

#include <windows.h>
// windows.h names PostMessageW so; here it is the receiver's member.
#undef PostMessage

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// The main window: names found, two progress bars, the message line and the
// Download folder. Starts the worker when initialised and follows its
// notifications; at the end starts the installer the application contained.
class CVORNdownloadDlg : public CColourDialogEx, public INotifyReceiver {
public:
    CVORNdownloadDlg();
    ~CVORNdownloadDlg() override;

    HBRUSH OnCtlColor(HDC dc, HWND window, UINT nCtlColor) override;
    // From the worker's thread: the notice is queued with the texts it
    // announces, and its registered message posted to the window.
    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override;

    // Steps of the bars: byte counts of any size are scaled into 32 bits.
    static constexpr int kBarSteps = 10000;

    HICON m_hIcon;
    GdiObject<HFONT> m_NormalFont;
    GdiObject<HFONT> m_LargeFont;
    HWND m_AppName = nullptr;
    HWND m_AppCaption = nullptr;
    CColourButton m_OK;
    CWorkerHandle m_pThread;
    HWND m_UpdateCaption = nullptr;
    HWND m_AppProgress = nullptr;
    HWND m_Message = nullptr;
    HWND m_UpdateName = nullptr;
    HWND m_UpdateProgress = nullptr;
    // The three shared text slots live in the channel, shared with the worker.
    std::shared_ptr<CNotifyChannel> m_channel;
    CProgressModel m_model{*m_channel};
    int m_nStage = 0;
    HWND m_FolderCaption = nullptr;
    HWND m_Folder = nullptr;
    // Found once, when the window is made; the worker is handed it.
    std::string m_downloadFolder;
    std::string m_releaseKey = BuiltInReleaseKey();

protected:
    BOOL OnInitDialog() override;
    void OnEnd(int result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void OnSysCommand(UINT id);
    bool OnPaint();
    // The four registered messages: each shows the notices queued so far.
    void TakeNotices();
    void Show(const CProgressModel::Notice& notice);
    void ShowChange(CProgressModel::Change change);
    void ShowBar(int stage);
    void ShowVerdict();
    void OnEndZip();
    void OnEndThread();
    void StartInstaller();
    std::string FailureLine() const;

    // Fonts at the window's DPI, made again when it moves to another screen.
    void MakeFonts();
    HFONT FontOfHeight(int height);
    // Sets a line's text in the largest font from `height` down to the
    // dialog's own that fits it (its end cut off beyond that).
    void SetLineText(HWND line, const std::string& text, int height);
    int Scaled(int pixels) const;

    // Registered by name, as every window that follows the worker does.
    const UINT m_umProgressBar;
    const UINT m_umFilenameUpdate;
    const UINT m_umEndZip;
    const UINT m_umEndThread;
    std::mutex m_queueLock;
    std::deque<CProgressModel::Notice> m_queue;
    std::map<int, GdiObject<HFONT>> m_fittedFonts;
    UINT m_dpi = 96;
};
