#include "app/CAboutDlg.h"
#include "app/CSmoothBarStyle.h"
#include "app/CVORNdownloadDlg.h"
#include "app/DialogFonts.h"
#include "app/DialogTemplates.h"
#include "platform/ProcessLauncher.h"
#include "support/ProgressRuns.h"
#include "support/TestSupport.h"
#include "worker/FtpSettings.h"
#include "worker/Messages.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace std::chrono_literals;

namespace {

const QColor kGrey(85, 85, 85), kWhite(255, 255, 255), kYellow(255, 255, 0), kCyan(0, 255, 255);

// A dialog with no worker; the launcher records instead of starting anything.
struct Dialog {
    TempHome home;
    CVORNdownloadDlg dlg;
    std::vector<std::string> launched;
    Dialog()
    {
        dlg.m_downloadFolder = home.Folder();
        dlg.m_launcher = [this](const std::string& p) {
            launched.push_back(p);
            return true;
        };
        dlg.OnInitDialog(/*startWorker=*/false);
    }
    void Status(const std::string& text, unsigned kind = kStatusChanged)
    {
        dlg.m_channel->statusText.Set(text);
        dlg.OnFilenameUpdate(kind, 0);
    }
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limit.count())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}   // namespace

TEST(Templates, DialogUnitsAndTheMainTemplate)
{
    EXPECT_EQ(DialogUnitsToPixels(260, 229, 50, 14), QRect(390, 372, 75, 23));
    EXPECT_EQ(DialogUnitsToPixels(0, 0, 317, 250).size(), QSize(476, 406));
    const auto& t = MainDialogTemplate();
    EXPECT_EQ(t.id, 102);
    EXPECT_STREQ(t.caption, "Download KEL from VORN FTP Site");
    ASSERT_EQ(t.controls.size(), 11u);
    EXPECT_EQ(t.controls[0].id, 1);
    EXPECT_STREQ(t.controls[8].text, "Message");
    EXPECT_EQ(AboutDialogTemplate().id, 100);
    // Pictures are drawn at the pixel ratio asked for, not stretched from 1x.
    const QPixmap banner = RenderPicture(":/res/banner.svg", QSize(303, 68), 2.0);
    EXPECT_EQ(banner.size(), QSize(606, 136));
    EXPECT_EQ(banner.deviceIndependentSize(), QSizeF(303, 68));
}

TEST(MainDialog, StartsWithEmptyNamesHiddenBarsAndTheRealFolder)
{
    Dialog d;
    EXPECT_EQ(d.dlg.windowTitle(), "Download KEL from VORN FTP Site");
    EXPECT_EQ(d.dlg.m_AppName->text(), "");
    EXPECT_EQ(d.dlg.m_UpdateName->text(), "");
    EXPECT_FALSE(d.dlg.m_AppProgress->isVisibleTo(&d.dlg));
    EXPECT_FALSE(d.dlg.m_UpdateProgress->isVisibleTo(&d.dlg));
    // The whole folder in the tooltip; on the line, shortened in the middle to fit.
    const QString folder = QString::fromStdString(d.home.Folder());
    EXPECT_EQ(d.dlg.m_Folder->toolTip(), folder);
    const QString shown = d.dlg.m_Folder->text();
    EXPECT_TRUE(shown == folder || (shown.contains(QChar(0x2026)) && shown.endsWith("Download/")))
        << shown.toStdString();
    EXPECT_LE(QFontMetrics(d.dlg.m_Folder->font()).horizontalAdvance(shown), d.dlg.m_Folder->width());
    EXPECT_EQ(d.dlg.m_Message->text(), "Message");
    EXPECT_LE(QFontMetrics(d.dlg.m_NormalFont).height(), 20);
    EXPECT_LE(QFontMetrics(d.dlg.m_LargeFont).height(), 30);
    EXPECT_TRUE(d.dlg.m_LargeFont.bold());
    // Tahoma's Windows cell is 2472 units of 2048: heights 20 and 30 are 16 and 24 px.
    EXPECT_EQ(PixelSizeForCell(20, 2048, 2049, 423), 16);
    EXPECT_EQ(PixelSizeForCell(30, 2048, 2049, 423), 24);
}

TEST(MainDialog, ColourTablePerControlIdAndAboutBoxHasNoYellowOrCyan)
{
    Dialog d;
    auto& dlg = d.dlg;
    EXPECT_EQ(dlg.OnCtlColor(CTLCOLOR_STATIC, IDC_MESSAGE), (CtlColor{kGrey, kYellow, kGrey}));
    EXPECT_EQ(dlg.OnCtlColor(CTLCOLOR_STATIC, IDC_FOLDER), (CtlColor{kGrey, kCyan, kGrey}));
    for (int id : std::initializer_list<int>{IDC_APP_NAME, IDC_APP_CAPTION, IDC_UPDATE_CAPTION, IDC_UPDATE_NAME,
                                             IDC_FOLDER_CAPTION, -1})
        EXPECT_EQ(dlg.OnCtlColor(CTLCOLOR_STATIC, id), (CtlColor{kGrey, kWhite, kGrey})) << id;
    EXPECT_EQ(dlg.OnCtlColor(CTLCOLOR_BTN, IDOK), (CtlColor{kGrey, std::nullopt, std::nullopt}));
    EXPECT_EQ(dlg.OnCtlColor(CTLCOLOR_DLG, -1), (CtlColor{kGrey, std::nullopt, std::nullopt}));
    // Colour by id, whatever the text says.
    d.Status("Internet Failed");
    EXPECT_EQ(dlg.m_Message->palette().color(QPalette::WindowText), kYellow);
    EXPECT_EQ(dlg.m_Folder->palette().color(QPalette::WindowText), kCyan);
    EXPECT_EQ(dlg.m_AppCaption->palette().color(QPalette::WindowText), kWhite);

    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About VORNdownload");
    for (QLabel* l : about.findChildren<QLabel*>()) {
        if (!l->text().isEmpty()) {
            EXPECT_EQ(l->palette().color(QPalette::WindowText), kWhite);
        }
    }
    EXPECT_EQ(about.OnCtlColor(CTLCOLOR_STATIC, IDC_MESSAGE), (CtlColor{kGrey, kWhite, kGrey}));
}

TEST(MainDialog, SystemCommands0x10To0x1FOpenTheAboutBoxAndF1DoesToo)
{
    Dialog d;
    int opened = 0;
    // Each About box is modal: close it as soon as it shows, counting it.
    auto closeSoon = [&] {
        QTimer::singleShot(0, [&] {
            if (auto* about = dynamic_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                ++opened;
                about->reject();
            }
        });
    };
    for (unsigned id : {0x10u, 0x15u, 0x1Fu, 0x20u, 0x0Fu, 0xF060u}) {
        closeSoon();
        d.dlg.OnSysCommand(id);
        QApplication::processEvents();
    }
    EXPECT_EQ(opened, 3);
    closeSoon();
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(&d.dlg, &f1);
    QApplication::processEvents();
    EXPECT_EQ(opened, 4);
}

TEST(MainDialog, ProgressRulesInTheirOrder)
{
    Dialog d;
    auto& dlg = d.dlg;
    QProgressBar* app = dlg.m_AppProgress;
    QProgressBar* upd = dlg.m_UpdateProgress;
    // Stage 0 ignores progress.
    dlg.OnProgressBar(0, 100);
    EXPECT_FALSE(app->isVisibleTo(&dlg));
    dlg.m_channel->appName.Set("KEL_V12");
    dlg.OnFilenameUpdate(kApplicationChosen, 0);
    EXPECT_EQ(dlg.m_nStage, 1);
    EXPECT_EQ(dlg.m_AppName->text(), "KEL_V12");

    dlg.OnProgressBar(0, 0);   // shows with an empty range: an empty bar, not a busy one
    EXPECT_TRUE(app->isVisibleTo(&dlg));
    EXPECT_GT(app->maximum(), app->minimum());
    EXPECT_EQ(app->value(), 0);
    dlg.OnProgressBar(0, 500);
    dlg.OnProgressBar(200, 500);
    EXPECT_EQ(app->value(), 200 * app->maximum() / 500);
    dlg.OnProgressBar(0, 5);   // restarts at 0 with the new range
    EXPECT_EQ(app->value(), 0);
    dlg.OnProgressBar(1, 5);
    EXPECT_EQ(app->value(), app->maximum() / 5);
    dlg.OnProgressBar(0, 5);
    dlg.OnProgressBar(3, 0);    // nothing
    dlg.OnProgressBar(3, -2);   // nothing
    EXPECT_EQ(app->value(), 0);
    EXPECT_TRUE(app->isVisibleTo(&dlg));
    dlg.OnProgressBar(7, 7);   // hides
    EXPECT_FALSE(app->isVisibleTo(&dlg));
    dlg.OnProgressBar(0, 9);
    dlg.OnProgressBar(~std::uint64_t{0}, -1);   // the download's failure hides too
    EXPECT_FALSE(app->isVisibleTo(&dlg));

    // Kind 2 then progress: only the update bar moves; the other stays as it was.
    dlg.OnProgressBar(0, 9);
    dlg.m_channel->updateName.Set("KELUPD01_24");
    dlg.OnFilenameUpdate(kUpdateChosen, 0);
    dlg.OnProgressBar(0, 10);
    dlg.OnProgressBar(4, 10);
    EXPECT_EQ(upd->value(), 4 * upd->maximum() / 10);
    EXPECT_TRUE(app->isVisibleTo(&dlg));
    EXPECT_EQ(app->value(), 0);
    dlg.OnFilenameUpdate(99, 0);   // unknown kinds do nothing
    EXPECT_EQ(dlg.m_nStage, 2);
}

TEST(MainDialog, KindsEndMessagesAndTheInstallerPath)
{
    Dialog d;
    auto& dlg = d.dlg;
    d.Status("Checking Internet");
    EXPECT_EQ(dlg.m_Message->text(), "Checking Internet");
    EXPECT_TRUE(d.launched.empty());

    dlg.m_channel->appName.Set("KEL_V12 Full");
    dlg.OnFilenameUpdate(kApplicationChosen, 0);
    // An application that did not arrive whole has no installer to start.
    d.Status("Download Failed - Try Again", kJobOver);
    EXPECT_EQ(dlg.m_Message->text(), "Download Failed - Try Again");
    EXPECT_TRUE(d.launched.empty());
    auto* failedBox = dlg.findChild<QMessageBox*>();
    ASSERT_NE(failedBox, nullptr);
    EXPECT_TRUE(failedBox->text().contains("not downloaded and unpacked completely"));
    delete failedBox;

    const std::string setup = d.home.Folder() + "KEL_V12 Full/KEL_V12 Full/Setup.exe";
    WriteFile(setup, "s");
    dlg.m_channel->applicationComplete = true;
    d.Status("Download Complete", kJobOver);
    ASSERT_EQ(d.launched.size(), 1u);
    EXPECT_EQ(d.launched[0], setup);

    dlg.OnEndThread(0, 0);   // one name only
    EXPECT_EQ(dlg.m_Message->text(), "Download Failed - Try Again");
    dlg.m_channel->updateName.Set("KELUPD01_24");
    dlg.OnEndThread(0, 0);
    EXPECT_EQ(dlg.m_Message->text(), "Download Finished");
    dlg.OnEndZip(0, 0);
    EXPECT_FALSE(static_cast<bool>(dlg.m_pThread));

    // No application name: nothing is started, and the message says why.
    {
        Dialog none;
        none.Status("Internet Failed", kJobOver);
        EXPECT_TRUE(none.launched.empty());
        auto* box = none.dlg.findChild<QMessageBox*>();
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().contains("No application was downloaded"));
        box->close();
    }

    // A launcher that fails: the dialog says so, naming the path.
    dlg.m_launcher = [](const std::string&) { return false; };
    d.Status("Download Complete", kJobOver);
    auto* box = dlg.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains(QString::fromStdString(setup)));
    box->close();
}

TEST(Installer, RealScriptRunsInItsOwnFolderAndMissingFileIsReported)
{
    TempDir dir;
    const fs::path script = dir.path() / "Setup.exe";
    // Written by a name alone, as an installer opens the files beside it.
    WriteFile(script, "#!/bin/sh\npwd -P > marker\n");
    fs::permissions(script, fs::perms::owner_all);
    EXPECT_TRUE(StartWithDefaultAction(script.string(), 5000ms));
    EXPECT_EQ(ReadFile(dir.path() / "marker"), fs::canonical(dir.path()).string() + "\n");
    EXPECT_FALSE(StartWithDefaultAction((dir.path() / "missing.exe").string(), 5000ms));
    // A long-running installer is left running after the wait and reaped later.
    const fs::path slow = dir.path() / "slow.exe";
    WriteFile(slow, "#!/bin/sh\nsleep 1\n");
    fs::permissions(slow, fs::perms::owner_all);
    EXPECT_TRUE(StartWithDefaultAction(slow.string(), 100ms));
}

TEST(MainDialog, WholeJobOffscreenAgainstTheLocalServer)
{
    TempHome home;
    TempDir root;
    const fs::path app = root.path() / "Digital Product Updates/KEL/KEL Software DVD/ZIP";
    const fs::path upd = root.path() / "Digital Product Updates/KEL/KEL Update DVD/ZIP_Files";
    fs::create_directories(app);
    fs::create_directories(upd);
    const std::string marker = (home.path() / "installer-ran").string();
    RunPython(
        "import sys, zipfile, os\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    i = zipfile.ZipInfo('KEL_V12/KEL_V12/Setup.exe'); i.create_system = 3; i.external_attr = 0o100755 << 16\n"
        "    z.writestr(i, '#!/bin/sh\\necho ran > \"" +
            marker +
            "\"\\n')\n"
            "    z.writestr('KEL_V12/data.bin', os.urandom(3000000))\n",
        app / "KEL_V12.zip");
    RunPython("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n    z.writestr('patch.txt', 'p')\n",
              upd / "KELUPD02_03.zip");
    FtpTestServer server(root.path());
    const ServerEnvironment served(server);

    CVORNdownloadDlg dlg;
    dlg.m_downloadFolder = home.Folder();
    // The end of the job is the installer's start on kind 3.
    bool installerStarted = false;
    dlg.m_launcher = [&, real = dlg.m_launcher](const std::string& path) {
        installerStarted = true;
        return real(path);
    };
    dlg.OnInitDialog();
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return installerStarted; }, 60s)) << dlg.m_Message->text().toStdString();
    EXPECT_EQ(dlg.m_Message->text(), "Download Complete");
    EXPECT_EQ(dlg.m_AppName->text(), "KEL_V12");
    std::string listing;
    for (const auto& e : fs::recursive_directory_iterator(home.DownloadFolder()))
        listing += e.path().string() + "\n";
    for (const auto& c : server.Commands())
        listing += c + "\n";
    EXPECT_EQ(dlg.m_UpdateName->text(), "KELUPD02_03") << listing;
    EXPECT_EQ(ReadFile(marker), "ran\n") << listing;
    EXPECT_EQ(ReadFile(home.DownloadFolder() / "KEL_V12_UPDATE/patch.txt"), "p");
    dlg.done(0);
}

TEST(MainDialog, ABuildWithoutAPublisherHostEndsFailedAndTellsHowToNameOne)
{
    unsetenv("VORN_FTP_HOST");
    if (!GetFtpSettings().host.empty())
        GTEST_SKIP() << "this build names a publisher host";
    TempHome home;
    CVORNdownloadDlg dlg;
    dlg.m_downloadFolder = home.Folder();
    dlg.OnInitDialog();
    dlg.show();
    QMessageBox* box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = dlg.findChild<QMessageBox*>()) != nullptr; }, 30s));
    EXPECT_TRUE(box->text().contains("No application was downloaded")) << box->text().toStdString();
    EXPECT_TRUE(box->text().contains(kNoPublisherHost)) << box->text().toStdString();
    // The long reason may be shortened on the line; it is whole in the box and the description.
    EXPECT_TRUE(dlg.m_Message->text().startsWith("Internet Failed\n")) << dlg.m_Message->text().toStdString();
    EXPECT_EQ(dlg.m_Message->accessibleDescription(), kNoPublisherHost);
    box->close();
    dlg.done(0);
}

// A failed run says why, in the words the terminal program prints, on the
// screen and to screen readers; a run that ends complete says nothing more.
TEST(MainDialog, AFailedRunShowsItsReasonWithTheVerdict)
{
    TempHome home;
    TempDir root;
    FtpTestServer server(root.path(), {"--refuse-login"});
    const ServerEnvironment served(server);
    CVORNdownloadDlg dlg;
    dlg.m_downloadFolder = home.Folder();
    dlg.OnInitDialog();
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return dlg.m_model.Result().has_value(); }, 60s));
    EXPECT_EQ(dlg.m_Message->text(), "Internet Failed\nthe server refused the login");
    EXPECT_TRUE(dlg.m_Message->toolTip().isEmpty());   // whole on the screen, not only in a tooltip
    EXPECT_TRUE(dlg.m_Message->isVisible());
    EXPECT_EQ(dlg.m_Message->accessibleDescription(), "the server refused the login");
    if (auto* box = dlg.findChild<QMessageBox*>())
        box->close();
    dlg.done(0);

    Dialog d;
    d.dlg.m_channel->failureReason.Set("");
    d.Status("Download Complete", kJobOver);
    EXPECT_EQ(d.dlg.m_Message->text(), "Download Complete");
    EXPECT_EQ(d.dlg.m_Message->accessibleDescription(), "What the download is doing now");
}

// With a publisher key, only a signed release reaches the installer; each
// refusal ends the window's run as a failure with no installer started.
TEST(MainDialog, WithAPublisherKeyOnlyASignedReleaseStartsItsInstaller)
{
    TempDir keys;
    const std::string key = MakeSigningKey(keys.path());
    for (const Forgery forgery :
         {Forgery::None, Forgery::ByteChanged, Forgery::Unsigned, Forgery::OtherKey, Forgery::Renamed}) {
        SCOPED_TRACE(static_cast<int>(forgery));
        // The worker remembers the list it accepted here, not in the real home.
        TempDir state;
        setenv("XDG_STATE_HOME", state.path().c_str(), 1);
        TempHome home;
        TempDir root;
        SignedRelease(root.path(), keys.path(), forgery);
        FtpTestServer server(root.path());
        CVORNdownloadDlg dlg;
        dlg.m_downloadFolder = home.Folder();
        dlg.m_releaseKey = key;
        std::vector<std::string> launched;
        dlg.m_launcher = [&](const std::string& path) {
            launched.push_back(path);
            return true;
        };
        {
            const ServerEnvironment served(server);
            dlg.OnInitDialog();   // the worker reads the server from the environment here
        }
        ASSERT_TRUE(WaitFor([&] { return dlg.m_model.Result().has_value(); }, 60s));
        if (forgery == Forgery::None) {
            EXPECT_EQ(dlg.m_Message->text(), "Download Complete");
            EXPECT_EQ(launched.size(), 1u);
            continue;
        }
        EXPECT_TRUE(dlg.m_Message->text().startsWith("Download Failed - Try Again\n"))
            << dlg.m_Message->text().toStdString();
        EXPECT_TRUE(launched.empty());
        auto* box = dlg.findChild<QMessageBox*>();
        ASSERT_NE(box, nullptr);
        // A refused list names no application; a refused archive was named.
        EXPECT_TRUE(box->text().contains(forgery == Forgery::ByteChanged ? "not downloaded and unpacked completely"
                                                                         : "No application was downloaded"));
        EXPECT_EQ(dlg.m_channel->failureReason.Get(), forgery == Forgery::Unsigned ? "KEL.release - Not Signed"
                                                      : forgery == Forgery::ByteChanged
                                                          ? "KEL_V12.zip - Signature Not Valid"
                                                          : "KEL.release - Not Valid");
    }
    unsetenv("XDG_STATE_HOME");
}

// Closing hides the window at once; the dialog ends only after the worker
// has cleaned up, so what it leaves is checked the moment the dialog is gone.
TEST(MainDialog, ClosingDuringADownloadHidesAtOnceAndEndsAfterTheWorker)
{
    TempHome home;
    TempDir root;
    const fs::path app = root.path() / "Digital Product Updates/KEL/KEL Software DVD/ZIP";
    WriteFile(app / "KEL_V12.zip", PatternBytes(4 << 20));
    FtpTestServer server(root.path(), {"--chunk", "8192", "--pause", "0.01"});
    {
        const ServerEnvironment served(server);
        CVORNdownloadDlg dlg;
        dlg.m_downloadFolder = home.Folder();
        dlg.OnInitDialog();
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.m_Message->text().contains("% Complete"); }, 30s));
        dlg.done(0);
        EXPECT_FALSE(dlg.isVisible());
    }
    EXPECT_FALSE(fs::exists(home.DownloadFolder() / "KEL_V12.zip"));
}

TEST(MainDialog, ClosingDuringUnpackingEndsAfterTheWorkerWithEveryFileWholeAndTheArchiveKept)
{
    TempHome home;
    TempDir root;
    const fs::path app = root.path() / "Digital Product Updates/KEL/KEL Software DVD/ZIP";
    WriteZip(app / "KEL_V12.zip", "    z.writestr('KEL_V12/dvd.bin', bytes(128 << 20), zipfile.ZIP_DEFLATED)\n"
                                  "    z.writestr('KEL_V12/after.txt', 'a', zipfile.ZIP_DEFLATED)\n");
    FtpTestServer server(root.path());
    {
        const ServerEnvironment served(server);
        CVORNdownloadDlg dlg;
        dlg.m_downloadFolder = home.Folder();
        dlg.OnInitDialog();
        dlg.show();
        ASSERT_TRUE(WaitFor([&] { return dlg.m_Message->text().contains("KEL_V12.zip - 1 of 2"); }, 30s));
        dlg.done(0);
        EXPECT_FALSE(dlg.isVisible());
    }
    // The complete archive stays for the next run; an entry is there whole or not at all.
    const fs::path archive = home.DownloadFolder() / "KEL_V12.zip";
    EXPECT_EQ(fs::file_size(archive), fs::file_size(app / "KEL_V12.zip"));
    const fs::path dvd = home.DownloadFolder() / "KEL_V12/dvd.bin";
    if (fs::exists(dvd)) {
        EXPECT_EQ(fs::file_size(dvd), 128u << 20);
    }
    for (const auto& e : fs::recursive_directory_iterator(home.DownloadFolder()))
        EXPECT_TRUE(e.is_directory() || e.path() == dvd || e.path() == archive || e.path().filename() == "after.txt")
            << e.path();
}

// The bars of DVD-sized runs: right at 10, 50 and 90 %, shown while a run
// lasts, and told to a screen reader as a percentage.
TEST(MainDialog, BarsFollowDVDSizedRunsAndReportPercentages)
{
    Dialog d;
    auto& dlg = d.dlg;
    dlg.m_channel->appName.Set("KEL_V12");
    dlg.OnFilenameUpdate(kApplicationChosen, 0);
    QProgressBar* bar = dlg.m_AppProgress;
    auto percentHeard = [&] {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(bar);
        return a && a->valueInterface() ? a->valueInterface()->currentValue().toInt() : -1;
    };
    TempHome unpackHome;
    for (const auto& run : {DownloadRun("KEL_V12.zip", 3584ull << 20), DownloadRun("KEL_V12.zip", 4608ull << 20),
                            UnpackRun(unpackHome)}) {
        const auto total = static_cast<std::uint64_t>(run.front().lParam);
        int next = 0;
        bool ended = false;
        const int targets[] = {10, 50, 90};
        for (std::size_t i = 0; i < run.size(); ++i) {
            if (run[i].message != UM_PROGRESS_BAR)
                continue;   // status texts do not touch the bar
            dlg.OnProgressBar(run[i].wParam, run[i].lParam);
            ended = ended || (i > 0 && run[i].wParam == total);
            ASSERT_EQ(bar->isVisibleTo(&dlg), !ended) << i;
            if (!ended && next < 3 && run[i].wParam * 100 >= targets[next] * total) {
                const double shown = 100.0 * bar->value() / bar->maximum();
                EXPECT_GE(shown, targets[next]) << total;
                EXPECT_LE(shown, targets[next] + 1) << total;
                EXPECT_EQ(percentHeard(), bar->value() * 100 / bar->maximum());
                ++next;
            }
        }
        EXPECT_EQ(next, 3);
        EXPECT_TRUE(ended);
    }
    EXPECT_EQ(bar->accessibleName(), "Application progress");
}

namespace {

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

}   // namespace

// The Windows style fills in 9-pixel blocks and repaints a bar only once it
// has moved by a block; on a 455-pixel bar 1 % (35 MiB of a DVD image) is
// less than that, so the bar lagged up to 2 % behind.
TEST(MainDialog, BarsRepaintForEveryPixelOfProgressInTheWindowsStyle)
{
    CSmoothBarStyle style(QStyleFactory::create(QStringLiteral("Windows")));
    QProgressBar bar;
    bar.setStyle(&style);
    bar.setTextVisible(false);
    bar.setRange(0, 10000);
    bar.setGeometry(0, 0, 455, 24);
    bar.show();
    QApplication::processEvents();
    PaintCounter counter;
    bar.installEventFilter(&counter);
    for (int value = 100; value <= 300; value += 100) {
        bar.setValue(value);   // 1 %: 4.5 pixels
        QApplication::processEvents();
    }
    EXPECT_GE(counter.paints, 3);
}

TEST(MainDialog, OpensFullyOnItsScreenWithRoomForATitleBar)
{
    Dialog d;
    d.dlg.move(-300, 5000);
    d.dlg.show();
    QApplication::processEvents();
    const QRect room = d.dlg.screen()->availableGeometry();
    EXPECT_TRUE(room.contains(d.dlg.frameGeometry())) << d.dlg.frameGeometry().y();
    EXPECT_GE(d.dlg.geometry().top() - room.top(), 24);
    d.dlg.hide();
}

TEST(MainDialog, LongNameShrinksToTheDialogFontThenIsElidedWithTheWholeNameInTheTooltip)
{
    Dialog d;
    auto& dlg = d.dlg;
    const QString name = QStringLiteral("KEL_V12_Professional_Edition_Complete_DVD_Image");
    dlg.m_channel->appName.Set(name.toStdString());
    dlg.OnFilenameUpdate(kApplicationChosen, 0);
    QLabel* line = dlg.m_AppName;
    EXPECT_EQ(line->font().pixelSize(), TemplateFont().pixelSize());
    EXPECT_NE(line->text(), name);
    EXPECT_TRUE(line->text().startsWith("KEL_V12") && line->text().contains(QChar(0x2026)))
        << line->text().toStdString();
    EXPECT_TRUE(TextFits(line->font(), line->text(), line->size(), false));
    EXPECT_EQ(line->toolTip(), name);
    // A name that fits is shown whole, in the normal font, without a tooltip.
    dlg.m_channel->appName.Set("KEL_V12");
    dlg.OnFilenameUpdate(kApplicationChosen, 0);
    EXPECT_EQ(line->text(), "KEL_V12");
    EXPECT_GT(line->font().pixelSize(), TemplateFont().pixelSize());
    EXPECT_TRUE(line->toolTip().isEmpty());
}

// Every fixed caption fits its control at the font it is drawn with, with the
// metric-compatible Tahoma and, shrunk where needed, without it.
TEST(Fonts, FixedCaptionsFitTheirControlsWithAndWithoutTahoma)
{
    auto check = [](const char* what) {
        SCOPED_TRACE(what);
        Dialog d;
        CAboutDlg about;
        for (QWidget* dialog : {static_cast<QWidget*>(&d.dlg), static_cast<QWidget*>(&about)}) {
            for (QLabel* l : dialog->findChildren<QLabel*>()) {
                if (l->text().isEmpty() || l == d.dlg.m_Folder)
                    continue;
                EXPECT_TRUE(TextFits(l->font(), l->text(), l->size(), l->wordWrap()))
                    << l->text().toStdString() << " at " << l->font().pixelSize() << " px in " << l->width() << "x"
                    << l->height();
            }
        }
        return QFontInfo(d.dlg.m_AppCaption->font()).pixelSize() == QFontInfo(d.dlg.m_NormalFont).pixelSize();
    };
    check("fallback font");
    const std::vector<int> ids = LoadDialogFonts();
    ASSERT_EQ(ids.size(), 2u) << "fonts-wine is not installed";
    EXPECT_TRUE(check("Tahoma")) << "with Tahoma the template texts fit as designed";
    for (int id : ids)
        QFontDatabase::removeApplicationFont(id);
}

TEST(About, OkCaptionIsReadableOnItsFace)
{
    CAboutDlg about;
    auto* ok = about.findChild<QPushButton*>();
    ASSERT_NE(ok, nullptr);
    EXPECT_GE(ContrastRatio(ok->palette().color(QPalette::ButtonText), ok->palette().color(QPalette::Button)), 4.5);
    EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(85, 85, 85), Qt::black), 2.82, 0.01);   // the black caption it had
}
