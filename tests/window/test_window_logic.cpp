// The window logic both windows share, seen through a fake window: the lines
// and bars a user would see, the verdict, the installer's messages and what
// gets started.
#include "support/TestSupport.h"
#include "window/AccessibleControls.h"
#include "window/CWindowLogic.h"
#include "window/resource.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <mutex>

using namespace std::chrono_literals;

namespace {

struct ShownBar {
    int position = -1;
    bool shown = false;
};

// Records what a window would show, and queues the worker's posts as a
// window's event loop does.
class FakeWindow : public INotifyReceiver, public CWindowLogic {
public:
    FakeWindow() : CWindowLogic(this)
    {
        m_launcher = [this](const std::string& path) {
            launched.push_back(path);
            return launches;
        };
    }
    ~FakeWindow() override { StopWorker(); }

    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override
    {
        const std::lock_guard guard(m_lock);
        m_posted.push_back(CProgressModel::Capture(*m_channel, message, wParam, lParam));
    }
    // Takes what was posted until the run's end (false when it does not come).
    bool TakeUntilTheEnd()
    {
        for (int i = 0; i < 6000 && !m_model.Result(); ++i) {
            std::deque<CProgressModel::Notice> posted;
            {
                const std::lock_guard guard(m_lock);
                posted.swap(m_posted);
            }
            for (const auto& notice : posted)
                Take(notice);
            std::this_thread::sleep_for(10ms);
        }
        return m_model.Result().has_value();
    }
    void Status(const std::string& text, unsigned kind = kStatusChanged)
    {
        m_channel->statusText.Set(text);
        OnFilenameUpdate(kind, 0);
    }

    std::map<Line, std::string> lines;
    std::string reasonForScreenReaders;
    ShownBar bars[3];
    std::vector<std::string> problems;
    std::vector<std::string> launched;
    bool launches = true;
    int paints = 0;

protected:
    void ShowLine(Line line, const std::string& text) override { lines[line] = text; }
    void ShowVerdict(const std::string& text, const std::string& reason) override
    {
        lines[Line::Message] = text;
        reasonForScreenReaders = reason;
    }
    void ShowBar(int stage, int position, bool shown) override { bars[stage] = {position, shown}; }
    void PaintNow() override { ++paints; }
    void ShowProblem(const std::string& text) override { problems.push_back(text); }

private:
    std::mutex m_lock;
    std::deque<CProgressModel::Notice> m_posted;
};

using Line = CWindowLogic::Line;
constexpr int kSteps = CWindowLogic::kBarSteps;

}   // namespace

TEST(WindowLogic, StageChoosesTheBarAndEachBarFollowsItsRules)
{
    FakeWindow w;
    w.OnProgressBar(0, 100);   // stage 0: no bar
    EXPECT_EQ(w.bars[1].position, -1);
    w.m_channel->appName.Set("KEL_V12");
    w.OnFilenameUpdate(kApplicationChosen, 0);
    EXPECT_EQ(w.m_nStage, 1);
    EXPECT_EQ(w.lines[Line::AppName], "KEL_V12");

    w.OnProgressBar(0, 0);   // an empty range still shows the bar, empty
    EXPECT_TRUE(w.bars[1].shown);
    EXPECT_EQ(w.bars[1].position, 0);
    w.OnProgressBar(0, 500);
    w.OnProgressBar(200, 500);
    EXPECT_EQ(w.bars[1].position, 2 * kSteps / 5);
    w.OnProgressBar(3, -2);   // nothing
    EXPECT_EQ(w.bars[1].position, 2 * kSteps / 5);
    w.OnProgressBar(500, 500);   // hidden, not filled first
    EXPECT_FALSE(w.bars[1].shown);
    w.OnProgressBar(0, 9);
    w.OnProgressBar(~std::uint64_t{0}, -1);   // the download's failure hides it too
    EXPECT_FALSE(w.bars[1].shown);

    // Kind 2 then progress: only the update bar moves.
    w.OnProgressBar(0, 9);
    w.m_channel->updateName.Set("KELUPD01_24");
    w.OnFilenameUpdate(kUpdateChosen, 0);
    w.OnProgressBar(0, 10);
    w.OnProgressBar(4, 10);
    EXPECT_EQ(w.lines[Line::UpdateName], "KELUPD01_24");
    EXPECT_EQ(w.bars[2].position, 4 * kSteps / 10);
    EXPECT_TRUE(w.bars[1].shown);
    EXPECT_EQ(w.bars[1].position, 0);
    w.OnFilenameUpdate(99, 0);   // unknown kinds do nothing
    EXPECT_EQ(w.m_nStage, 2);
    w.Status("Checking Internet");
    EXPECT_EQ(w.lines[Line::Message], "Checking Internet");
}

TEST(WindowLogic, TheVerdictAndTheInstallersMessages)
{
    TempHome home;
    FakeWindow w;
    w.m_downloadFolder = home.Folder();
    // No application: nothing started, and the message says why.
    w.m_channel->failureReason.Set("the server refused the login");
    w.Status("Internet Failed", kJobOver);
    EXPECT_EQ(w.lines[Line::Message], "Internet Failed\nthe server refused the login");
    EXPECT_EQ(w.reasonForScreenReaders, "the server refused the login");
    EXPECT_EQ(w.paints, 1);   // painted before the installer's wait
    ASSERT_EQ(w.problems.size(), 1u);
    EXPECT_EQ(w.problems[0],
              "No application was downloaded, so there is no installer to start.\nthe server refused the login");

    // An application that did not arrive whole.
    w.m_channel->failureReason.Set("");
    w.m_channel->appName.Set("KEL_V12 Full");
    w.OnFilenameUpdate(kApplicationChosen, 0);
    w.Status("Download Failed - Try Again", kJobOver);
    EXPECT_EQ(w.problems.back(),
              "The application was not downloaded and unpacked completely, so its installer was not started.");

    // Unpacked whole, but its update refused: the message says which.
    w.m_channel->updateRefused = true;
    w.m_channel->failureReason.Set("KELUPD01_02.zip - Not Signed");
    w.Status("Download Failed - Try Again", kJobOver);
    EXPECT_EQ(w.problems.back(), "The application was unpacked, but its update was refused, so the installer was "
                                 "not started.\nKELUPD01_02.zip - Not Signed");
    w.m_channel->updateRefused = false;
    w.m_channel->failureReason.Set("");

    // Whole, but its Setup.exe missing; then there; then failing to start.
    w.m_channel->applicationComplete = true;
    w.Status("Download Complete", kJobOver);
    EXPECT_TRUE(w.problems.back().starts_with("The installer was not started: ")) << w.problems.back();
    const std::string setup = home.Folder() + "KEL_V12 Full/KEL_V12 Full/Setup.exe";
    WriteFile(setup, "s");
    const std::size_t before = w.problems.size();
    w.Status("Download Complete", kJobOver);
    EXPECT_EQ(w.lines[Line::Message], "Download Complete");
    EXPECT_EQ(w.reasonForScreenReaders, "");
    ASSERT_EQ(w.launched, std::vector<std::string>{setup});
    EXPECT_EQ(w.problems.size(), before);
    w.launches = false;
    w.Status("Download Complete", kJobOver);
    EXPECT_EQ(w.problems.back(), "The installer could not be started:\n" + setup);

    // The end of the thread: finished only with both names.
    w.OnEndThread(0, 0);
    EXPECT_EQ(w.lines[Line::Message], "Download Failed - Try Again");
    w.m_channel->updateName.Set("KELUPD01_24");
    w.OnEndThread(0, 0);
    EXPECT_EQ(w.lines[Line::Message], "Download Finished");
}

// The job as the windows start it; closed, nothing more is shown and the
// worker is waited for.
TEST(WindowLogic, StartsTheJobShowsItsEndAndStopsOnClose)
{
    TempHome home;
    TempDir root;
    FtpTestServer server(root.path(), {"--refuse-login"});
    {
        const ServerEnvironment served(server);
        FakeWindow w;
        w.m_downloadFolder = home.Folder();
        w.StartWorker();
        ASSERT_TRUE(static_cast<bool>(w.m_pThread));
        ASSERT_TRUE(w.TakeUntilTheEnd());
        EXPECT_EQ(w.lines[Line::Message], "Internet Failed\nthe server refused the login");
        EXPECT_TRUE(w.launched.empty());
        ASSERT_EQ(w.problems.size(), 1u);
        EXPECT_TRUE(w.problems[0].starts_with("No application was downloaded")) << w.problems[0];
    }
    const fs::path app = root.path() / "Digital Product Updates/KEL/KEL Software DVD/ZIP";
    WriteFile(app / "KEL_V12.zip", PatternBytes(4 << 20));
    FtpTestServer slow(root.path(), {"--chunk", "8192", "--pause", "0.01"});
    const ServerEnvironment served(slow);
    FakeWindow w;
    w.m_downloadFolder = home.Folder();
    w.StartWorker();
    w.OnClose();
    w.StopWorker();
    EXPECT_TRUE(w.m_pThread.WaitFinished(0ms));
    EXPECT_FALSE(fs::exists(home.DownloadFolder() / "KEL_V12.zip"));
}

// What both windows tell a screen reader: the bars' value in whole percent of
// any 32-bit range, the named controls, the status line's reason.
TEST(WindowLogic, ScreenReadersHearPercentagesAndNames)
{
    EXPECT_EQ(BarPercent(3940, 0, kSteps), 39);   // rounded down, never ahead of the bar
    EXPECT_EQ(BarPercent(kSteps, 0, kSteps), 100);
    EXPECT_EQ(BarPercent(0, -0x7FFFFFFF - 1, 0x7FFFFFFF), 50);   // the widest range, no overflow
    EXPECT_EQ(BarPercent(5, 0, 0), 0);                           // an empty range
    EXPECT_EQ(BarPercent(-1, 0, 10), 0);                         // a reset bar
    EXPECT_EQ(BarPercent(11, 0, 10), 100);
    EXPECT_EQ(PercentText(39), "39 %");

    ASSERT_EQ(MainDialogAccessibleControls().size(), 6u);
    EXPECT_STREQ(MainDialogAccessible(IDC_APP_PROGRESS)->name, "Application progress");
    EXPECT_STREQ(MainDialogAccessible(IDC_UPDATE_NAME)->name, "Update file");
    EXPECT_EQ(MainDialogAccessible(IDC_APP_CAPTION), nullptr);   // read by its own text
    EXPECT_EQ(MainDialogAccessible(IDOK), nullptr);
    EXPECT_EQ(StatusDescription(""), "What the download is doing now");
    EXPECT_EQ(StatusDescription("the server refused the login"), "the server refused the login");
}
