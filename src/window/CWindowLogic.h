#pragma once
#include "platform/CNotifyChannel.h"
#include "platform/CWorkerThread.h"
#include "worker/CProgressModel.h"
#include "worker/ReleaseKey.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// What the main window does, without a toolkit: starts and stops the job,
// takes the worker's notices through the four handlers, decides what each
// change shows (which line, which bar, the verdict) and whether and where the
// installer starts, with every text it shows. The Qt and the Win32 dialog
// derive from it and do only what their toolkit must: the `Show*` members.
class CWindowLogic {
public:
    // Starts the installer at a path; false when it could not be started.
    using Launcher = std::function<bool(const std::string& path)>;
    enum class Line { AppName, UpdateName, Message };

    // Steps of the bars: byte counts of any size are scaled into them.
    static constexpr int kBarSteps = 10000;

    // `receiver` gets the worker's posts: the window, queueing them into its event loop.
    explicit CWindowLogic(INotifyReceiver* receiver);
    virtual ~CWindowLogic();
    CWindowLogic(const CWindowLogic&) = delete;
    CWindowLogic& operator=(const CWindowLogic&) = delete;

    // The worker started suspended, wired, resumed; without a thread the
    // window carries on with none.
    void StartWorker();
    // OK, Escape and the close box, once the window is hidden: nothing more
    // is shown and the worker is told to stop. It keeps a partial archive as
    // "<name>.part" with its "<name>.part-state" for the next run.
    void OnClose();
    // OnClose, then waits until the worker has finished its clean-up: the
    // window's destructor calls it, so no thread outlives the program.
    void StopWorker();

    // The handlers of the four notifications, as posted on this thread.
    long OnProgressBar(std::uint64_t wParam, std::int64_t lParam);
    long OnFilenameUpdate(std::uint64_t wParam, std::int64_t lParam);
    long OnEndZip(std::uint64_t wParam, std::int64_t lParam);
    long OnEndThread(std::uint64_t wParam, std::int64_t lParam);
    // A notice copied on the worker's thread when it was posted (any of the four).
    void Take(const CProgressModel::Notice& notice);
    // The registered number of one of the four names.
    bool IsNotification(unsigned message) const;

    CWorkerHandle m_pThread;
    // The four shared text slots live in the channel, shared with the worker.
    std::shared_ptr<CNotifyChannel> m_channel;
    // The notices read once, the same way the terminal program reads them.
    CProgressModel m_model{*m_channel};
    int m_nStage = 0;
    Launcher m_launcher;
    // Found once, when the window is made; the worker is handed it.
    std::string m_downloadFolder;
    // The publisher's key the worker checks archives with (the build's).
    std::string m_releaseKey = BuiltInReleaseKey();

    // The message when the installer cannot be started.
    static std::string InstallerErrorText(const std::string& path);
    // The message line at the run's end: the status, and the worker's reason
    // for a failed run on a second line.
    std::string VerdictText() const;

protected:
    // Toolkit work only.
    virtual void ShowLine(Line line, const std::string& text) = 0;
    // The run's verdict on the message line (`text`, maybe two lines) with
    // the reason alone for screen readers; empty when the run ended complete.
    virtual void ShowVerdict(const std::string& text, const std::string& reason) = 0;
    // Bar 1 (application) or 2 (update): position of kBarSteps, shown or hidden.
    virtual void ShowBar(int stage, int position, bool shown) = 0;
    // Paints what changed now: the verdict is on the screen before the installer's wait.
    virtual void PaintNow() = 0;
    // A problem with the installer, told without holding the window.
    virtual void ShowProblem(const std::string& text) = 0;

private:
    void ShowChange(CProgressModel::Change change);
    void StartInstaller();
    // The installer's problem, or empty once it has been started.
    std::string InstallerProblem();
    // The worker's reason for a failed run as a line of its own; empty when none.
    std::string FailureLine() const;
};
