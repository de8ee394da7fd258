#include "window/CWindowLogic.h"

#include "platform/CMessageRegistry.h"
#include "platform/ProcessLauncher.h"
#include "worker/DownloadJob.h"
#include "worker/InstallerPath.h"
#include "worker/Messages.h"

#include <chrono>

namespace {

// The window's side registers all four names.
const unsigned kProgressBar = CMessageRegistry::Register(kProgressBarName);
const unsigned kFilenameUpdate = CMessageRegistry::Register(kFilenameUpdateName);
const unsigned kEndZip = CMessageRegistry::Register(kEndZipName);
const unsigned kEndThread = CMessageRegistry::Register(kEndThreadName);

bool DefaultLauncher(const std::string& path)
{
    return StartWithDefaultAction(path, std::chrono::milliseconds(5000));
}

}   // namespace

CWindowLogic::CWindowLogic(INotifyReceiver* receiver)
    : m_channel(std::make_shared<CNotifyChannel>(receiver)), m_launcher(DefaultLauncher)
{
    m_nStage = 0;
}

CWindowLogic::~CWindowLogic()
{
    StopWorker();
}

void CWindowLogic::StartWorker()
{
    m_pThread = StartDownloadJob(m_channel, m_downloadFolder, m_releaseKey);
}

void CWindowLogic::OnClose()
{
    m_channel->Detach();
    m_pThread.RequestStop();
}

void CWindowLogic::StopWorker()
{
    // Nothing reaches the window after the channel is detached.
    OnClose();
    m_pThread.WaitFinished();
}

bool CWindowLogic::IsNotification(unsigned message) const
{
    return message == kProgressBar || message == kFilenameUpdate || message == kEndZip || message == kEndThread;
}

void CWindowLogic::Take(const CProgressModel::Notice& notice)
{
    if (notice.message == kEndZip)
        OnEndZip(notice.wParam, notice.lParam);
    else if (notice.message == kEndThread)
        OnEndThread(notice.wParam, notice.lParam);
    else if (notice.message == kProgressBar || notice.message == kFilenameUpdate)
        ShowChange(m_model.Take(notice));
}

long CWindowLogic::OnProgressBar(std::uint64_t wParam, std::int64_t lParam)
{
    ShowChange(m_model.Take(kProgressBar, wParam, lParam));
    return 0;
}

long CWindowLogic::OnFilenameUpdate(std::uint64_t wParam, std::int64_t lParam)
{
    ShowChange(m_model.Take(kFilenameUpdate, wParam, lParam));
    return 0;
}

long CWindowLogic::OnEndZip(std::uint64_t, std::int64_t)
{
    m_pThread = CWorkerHandle();
    return 0;
}

long CWindowLogic::OnEndThread(std::uint64_t, std::int64_t)
{
    const bool both = !m_channel->appName.Get().empty() && !m_channel->updateName.Get().empty();
    ShowLine(Line::Message, both ? "Download Finished" : "Download Failed - Try Again");
    return 0;
}

void CWindowLogic::ShowChange(CProgressModel::Change change)
{
    using Change = CProgressModel::Change;
    switch (change) {
    case Change::BarStarted:
    case Change::BarMoved:
    case Change::BarHidden:
        // Only stages 1 and 2 have a bar; a hidden bar is not filled first.
        if (const CProgressModel::Bar* bar = m_model.CurrentBar())
            ShowBar(m_model.Stage(), bar->Scaled(kBarSteps), bar->shown);
        break;
    case Change::Status:
        ShowLine(Line::Message, m_model.Status());
        break;
    case Change::AppName:
        ShowLine(Line::AppName, m_model.AppName());
        break;
    case Change::UpdateName:
        ShowLine(Line::UpdateName, m_model.UpdateName());
        break;
    case Change::End:
        ShowVerdict(VerdictText(), m_model.FailureReason());
        PaintNow();
        StartInstaller();
        break;
    default:
        break;
    }
    m_nStage = m_model.Stage();
}

std::string CWindowLogic::VerdictText() const
{
    // The reason in the terminal program's words, on a second line.
    const std::string& reason = m_model.FailureReason();
    return reason.empty() ? m_model.Status() : m_model.Status() + "\n" + reason;
}

void CWindowLogic::StartInstaller()
{
    if (const std::string problem = InstallerProblem(); !problem.empty())
        ShowProblem(problem);
}

std::string CWindowLogic::InstallerProblem()
{
    // Only an application unpacked whole in this run has an installer worth
    // starting, and only from a path that stays inside the Download folder.
    const std::string app = m_channel->appName.Get();
    if (app.empty())
        return "No application was downloaded, so there is no installer to start." + FailureLine();
    if (m_channel->updateRefused)
        return "The application was unpacked, but its update was refused, so the installer was not started." +
               FailureLine();
    if (!m_channel->applicationComplete)
        return "The application was not downloaded and unpacked completely, so its installer was not started." +
               FailureLine();
    const InstallerPath installer = FindInstaller(m_downloadFolder, app);
    if (!installer.problem.empty())
        return "The installer was not started: " + installer.problem + "\n" + installer.path;
    if (m_launcher && !m_launcher(installer.path))
        return InstallerErrorText(installer.path);
    return {};
}

std::string CWindowLogic::InstallerErrorText(const std::string& path)
{
    return "The installer could not be started:\n" + path;
}

std::string CWindowLogic::FailureLine() const
{
    // The worker's reason, set before it posts the run's end.
    const std::string why = m_channel->failureReason.Get();
    return why.empty() ? std::string() : "\n" + why;
}
