#pragma once
#include "controls/CColourDialogEx.h"
#include "platform/INotifyReceiver.h"
#include "window/CWindowLogic.h"

#include <QFont>
#include <QIcon>

#include <cstdint>

class CColourButton;
class QLabel;
class QProgressBar;

// The main window: names found, two progress bars, the message line and the
// Download folder, as Qt widgets. What it shows and when, and the job
// itself, are the window logic's; this class draws it.
class CVORNdownloadDlg : public CColourDialogEx, public INotifyReceiver, public CWindowLogic {
public:
    explicit CVORNdownloadDlg(QWidget* parent = nullptr);
    ~CVORNdownloadDlg() override;

    // Fonts, texts, hidden bars, and the worker started suspended, wired, resumed.
    bool OnInitDialog(bool startWorker = true);
    void OnSysCommand(unsigned id);
    CtlColor OnCtlColor(CtlColorKind kind, int controlId) override;

    // From the worker's thread: queued into this dialog's event loop.
    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override;
    // OK, Escape and the close box: the window goes at once and the worker is
    // told to stop; the destructor waits for it to finish its clean-up.
    void done(int result) override;

    QIcon m_hIcon;
    QFont m_NormalFont;
    QFont m_LargeFont;
    QLabel* m_AppName = nullptr;
    QLabel* m_AppCaption = nullptr;
    CColourButton* m_OK = nullptr;
    QLabel* m_UpdateCaption = nullptr;
    QProgressBar* m_AppProgress = nullptr;
    QLabel* m_Message = nullptr;
    QLabel* m_UpdateName = nullptr;
    QProgressBar* m_UpdateProgress = nullptr;
    QLabel* m_FolderCaption = nullptr;
    QLabel* m_Folder = nullptr;

protected:
    void customEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

    void ShowLine(Line line, const std::string& text) override;
    void ShowVerdict(const std::string& text, const std::string& reason) override;
    void ShowBar(int stage, int position, bool shown) override;
    void PaintNow() override;
    void ShowProblem(const std::string& text) override;

private:
    // Sets a line's text in `font`, made smaller where the text would not fit,
    // but not below the dialog's 8-point size; then shortened in the middle,
    // with the whole text in the tooltip.
    static void SetLineText(QLabel* line, const QString& text, const QFont& font);
    // Moves the window, frame included, fully onto the screen that holds it.
    void KeepOnScreen();

    bool m_placed = false;   // placed on its screen at the first show
};
