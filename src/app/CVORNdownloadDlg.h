#pragma once
#include "controls/CColourDialogEx.h"
#include "platform/CNotifyChannel.h"
#include "platform/CWorkerThread.h"
#include "worker/CProgressModel.h"
#include "worker/ReleaseKey.h"

#include <QFont>
#include <QIcon>

#include <functional>
#include <memory>
#include <string>

class CColourButton;
class QLabel;
class QProgressBar;

// The main window: names found, two progress bars, the message line and the
// Download folder. Starts the worker when initialised and follows its
// notifications; at the end starts the installer the application contained.
class CVORNdownloadDlg : public CColourDialogEx, public INotifyReceiver {
public:
    // Starts the installer at a path; false when it could not be started.
    using Launcher = std::function<bool(const std::string& path)>;

    explicit CVORNdownloadDlg(QWidget* parent = nullptr);
    ~CVORNdownloadDlg() override;

    // Fonts, texts, hidden bars, and the worker started suspended, wired, resumed.
    bool OnInitDialog(bool startWorker = true);
    void OnSysCommand(unsigned id);
    CtlColor OnCtlColor(CtlColorKind kind, int controlId) override;

    // The handlers of the four notifications.
    long OnProgressBar(std::uint64_t wParam, std::int64_t lParam);
    long OnFilenameUpdate(std::uint64_t wParam, std::int64_t lParam);
    long OnEndZip(std::uint64_t wParam, std::int64_t lParam);
    long OnEndThread(std::uint64_t wParam, std::int64_t lParam);

    // From the worker's thread: queued into this dialog's event loop.
    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override;
    // OK, Escape and the close box: the window goes at once and the worker is
    // told to stop; the destructor waits for it to finish its clean-up.
    void done(int result) override;

    // Steps of the bars: byte counts of any size are scaled into them.
    static constexpr int kBarSteps = 10000;

    QIcon m_hIcon;
    QFont m_NormalFont;
    QFont m_LargeFont;
    QLabel* m_AppName = nullptr;
    QLabel* m_AppCaption = nullptr;
    CColourButton* m_OK = nullptr;
    CWorkerHandle m_pThread;
    QLabel* m_UpdateCaption = nullptr;
    QProgressBar* m_AppProgress = nullptr;
    QLabel* m_Message = nullptr;
    QLabel* m_UpdateName = nullptr;
    QProgressBar* m_UpdateProgress = nullptr;
    // The three shared text slots live in the channel, shared with the worker.
    std::shared_ptr<CNotifyChannel> m_channel;
    // The notifications read once, the same way the terminal program reads them.
    CProgressModel m_model{*m_channel};
    int m_nStage = 0;
    QLabel* m_FolderCaption = nullptr;
    QLabel* m_Folder = nullptr;
    Launcher m_launcher;
    // Found once, when the window is made; the worker is handed it.
    std::string m_downloadFolder;
    // The publisher's key the worker checks archives with (the build's).
    std::string m_releaseKey = BuiltInReleaseKey();

protected:
    void customEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Sets a line's text in `font`, made smaller where the text would not fit,
    // but not below the dialog's 8-point size; then shortened in the middle,
    // with the whole text in the tooltip.
    static void SetLineText(QLabel* line, const QString& text, const QFont& font);
    // The bar of `stage` as the model has it.
    void ShowBar(int stage);
    // Shows what one notice changed in the model.
    void ShowChange(CProgressModel::Change change);
    // The final status, with the reason of a failed run below it.
    void ShowVerdict();
    // Moves the window, frame included, fully onto the screen that holds it.
    void KeepOnScreen();

    bool m_placed = false;   // placed on its screen at the first show
    void StartInstaller();
    // The worker's reason for a failed run as a line of its own; empty when none.
    QString FailureLine() const;
    void StopWorker();
};

// The message shown when the installer cannot be started.
QString InstallerErrorText(const std::string& path);
