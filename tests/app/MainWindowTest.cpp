// The real main window and the operator's dialogs, offscreen, with the simulated camera
// streaming into them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <tuple>

#include "CQuillonDlg.h"
#include "camera/Camera.h"
#include "common/PrivateTempDir.h"
#include "common/TempDir.h"
#include "common/TestApplication.h"
#include "common/WaitUntil.h"
#include "settings/SettingsFile.h"
#include "ui/CAboutDlg.h"
#include "ui/CCameraProperties.h"
#include "ui/CNumericEdit.h"
#include "ui/CPreferencesDlg.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Props = CCameraProperties;

// The mean level of a picture: scaled down smoothly to one pixel, which averages it.
double MeanLevel(const QImage& image) {
    const QColor mean =
        image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
    return (mean.red() + mean.green() + mean.blue()) / 3.0;
}

float Property(CCamera& camera, uint32_t property) {
    float value = 0.0f;
    uint32_t flags = 0;
    camera.Api().GetProperty(camera.Handle(), property, value, flags);
    return value;
}

// Runs `use` on the modal dialog that `open` brings up, then makes sure it is closed.
template <class Dialog>
bool OnModal(const std::function<void()>& open, const std::function<void(Dialog&)>& use) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        seen = true;
        if (use)
            use(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    open();
    return seen;
}

// Picks `path` in the file dialog that `press` opens. Qt's file dialog gathers file details on
// a thread inside Qt, which ThreadSanitizer cannot see into: under it the file goes straight
// to the dialog's own step after the choice.
void ChooseFile(QPushButton& press, const fs::path& path,
                const std::function<void(const QString&)>& chosen) {
    const QString file = QString::fromStdString(path.string());
#ifdef __SANITIZE_THREAD__
    (void)press;
    chosen(file);
#else
    (void)chosen;
    EXPECT_TRUE(OnModal<QFileDialog>(
        [&] { press.click(); },
        [&](QFileDialog& files) {
            files.selectFile(file);
            static_cast<QDialog&>(files).accept(); // QFileDialog's own, checks included
        }));
#endif
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir / "share");
        std::ofstream(dir / "smb.conf")
            << "[global]\n  workgroup = TEST\n[QuillonFiles]\n  path = " << (dir / "share").string()
            << "\n";
        options.camera = "sim";
        options.settingsPath = (dir / "settings.ini").string();
        options.smbConf = (dir / "smb.conf").string();
        setenv("HOME", dir.c_str(), 1); // the performance log's folder goes here
    }

    std::unique_ptr<CQuillonDlg> Window() {
        auto window = std::make_unique<CQuillonDlg>(options, ticks);
        EXPECT_TRUE(window->OnInitDialog());
        window->show();
        return window;
    }
    // The camera properties dialog as the window opens it.
    std::unique_ptr<Props> Properties(CQuillonDlg& window) {
        RecorderEngine& engine = window.Engine();
        CameraPropertiesHooks hooks{[&engine] { return engine.ApplyCameraSettings(); },
                                    [&window] { window.SetupPreview(); }};
        return std::make_unique<Props>(*engine.Device(), engine.Camera(), engine.App(),
                                       std::move(hooks), &window);
    }

    // Waits for `count` more frames in the preview and returns the last one.
    QImage NextFrames(CQuillonDlg& window, uint64_t count) {
        const uint64_t until = window.Preview().FramesShown() + count;
        EXPECT_TRUE(WaitUntil([&] { return window.Preview().FramesShown() >= until; }));
        return window.Preview().CurrentImage();
    }

    QApplication& app = TestApplication();
    test::TempDir tmp{"quillon-window"};
    fs::path dir{tmp.Path()};
    ProgramOptions options;
    ManualTickSource ticks{1000};
};
using DialogsTest = MainWindowTest;

TEST_F(MainWindowTest, FramesReachThePreviewAdjustmentsActOnTheNextFrameAndClosingKeepsThem) {
    auto window = Window();
    ASSERT_TRUE(window->IsUsable());
    // First run: 800 x 400 region; the preview keeps its aspect ratio, scaled down as far as
    // the window needs to fit the screen.
    const int scale = int(window->Engine().Pipeline()->PreviewScale());
    EXPECT_EQ(window->Preview().size(), QSize(800 / scale, 400 / scale));
    EXPECT_LE(window->frameGeometry().width(), window->screen()->availableGeometry().width());
    if (window->AutoBox().isChecked())
        QTest::mouseClick(&window->AutoBox(), Qt::LeftButton);
    ASSERT_FALSE(window->AutoBox().isChecked() || window->BrightnessEdit().GetReadOnly());

    const double plain = MeanLevel(NextFrames(*window, 3));
    window->BrightnessEdit().SetPos(120);
    EXPECT_EQ(window->Engine().Camera().Brightnes, 120);
    EXPECT_GT(MeanLevel(NextFrames(*window, 2)), plain + 60);

    // Auto makes brightness read-only, keeps its value, and takes the next mean as target.
    window->BrightnessEdit().SetPos(40);
    QTest::mouseClick(&window->AutoBox(), Qt::LeftButton);
    EXPECT_TRUE(window->AutoBox().isChecked() && window->BrightnessEdit().GetReadOnly());
    const CameraSettings& camera = window->Engine().Camera();
    EXPECT_EQ(std::tie(camera.AutoCorrection, camera.MeanValue), std::make_tuple(1, -1));
    EXPECT_EQ(window->BrightnessEdit().GetPos(), 40);
    NextFrames(*window, 8);
    EXPECT_GT(camera.MeanValue, 0);
    QTest::mouseClick(&window->AutoBox(), Qt::LeftButton);
    EXPECT_FALSE(window->BrightnessEdit().GetReadOnly());
    EXPECT_EQ(camera.AutoCorrection, 0);

    window->BrightnessEdit().SetPos(0);
    window->ContrastEdit().SetPos(0); // every byte becomes 127
    const QImage flat = NextFrames(*window, 2);
    EXPECT_EQ(flat.pixelColor(10, 10), QColor(127, 127, 127));
    EXPECT_EQ(flat.pixelColor(flat.width() / 2, flat.height() / 2), QColor(127, 127, 127));
    window.reset();
    AppSettings savedApp;
    CameraSettings saved;
    ASSERT_TRUE(LoadSettingsFile(options.settingsPath, savedApp, saved));
    EXPECT_EQ(std::tie(saved.Contrast, saved.Width, saved.XOffset), std::make_tuple(0, 800u, 624u));
}

TEST_F(MainWindowTest, RaceButtonsAndTimeFollowTheRaceAndEnterDoesNothing) {
    auto window = Window();
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
    RaceStateMachine& race = window->Engine().Race();
    race.SetRaceTime(3723000); // the last race ended at 01:02:03
    QLabel* elapsed = nullptr;
    for (QLabel* label : window->findChildren<QLabel*>())
        elapsed = label->text() == "01:02:03" ? label : elapsed;
    std::map<QString, QToolButton*> buttons;
    for (QToolButton* b : window->findChildren<QToolButton*>())
        buttons[b->toolTip()] = b;
    QToolButton *ready = buttons["Ready"], *start = buttons["Start"], *arrival = buttons["Arrival"];
    ASSERT_TRUE(elapsed && ready && start && arrival);
    QTest::mouseClick(ready, Qt::LeftButton);
    EXPECT_EQ(race.State(), kReady);
    EXPECT_FALSE(ready->isEnabled());
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(race.State(), kStarted);
    EXPECT_FALSE(start->isEnabled());
    // The new race's time shows at once; the race's own texts still follow.
    EXPECT_EQ(elapsed->text(), "00:00:00");
    race.SetRaceTime(3723000);
    EXPECT_EQ(elapsed->text(), "01:02:03");
    // The arrival button opens a manual arrival and, pressed again, ends it.
    QTest::mouseClick(arrival, Qt::LeftButton);
    EXPECT_TRUE(race.ManualArrival());
    EXPECT_EQ(race.ArrivalEndTime(), 0u);
    QTest::mouseClick(arrival, Qt::LeftButton);
    EXPECT_FALSE(race.ManualArrival());
    EXPECT_NE(race.ArrivalEndTime(), 0u);
    // An arrival from a host greys the button until its end, or until IDLE, STOP or READY
    // ends every arrival.
    using Step = void (RaceStateMachine::*)();
    for (Step closing :
         {&RaceStateMachine::OnIdle, &RaceStateMachine::OnStop, &RaceStateMachine::OnReady}) {
        race.OnArrival("5000");
        EXPECT_FALSE(arrival->isEnabled());
        (race.*closing)();
        EXPECT_TRUE(arrival->isEnabled());
    }
}

TEST_F(MainWindowTest, EndFromOutsideClosesAnOpenAboutBoxAndTheWindow) {
    auto window = Window();
    QTimer::singleShot(0, &window->AboutAction(), &QAction::trigger);
    bool aboutUp = false;
    QTimer::singleShot(300, window.get(), [&] {
        aboutUp = QApplication::activeModalWidget() != window.get();
        window->EndFromOutside();
    });
    QTimer::singleShot(5000, window.get(), [] { // frees a failed test: hides every box
        while (QWidget* box = QApplication::activeModalWidget())
            box->hide();
    });
    QElapsedTimer took;
    took.start();
    window->exec();
    EXPECT_TRUE(aboutUp);
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindowTest, SharedMemoryBoxStaysHiddenAndSwapsTheTcpFieldsForTheSegment) {
    PrivateTempDir tmp;
    options.sharedMemory = true;
    auto window = Window();
    const auto shownTcpFields = [&] {
        int shown = 0;
        for (QLabel* label : window->findChildren<QLabel*>())
            shown += (label->text() == "Port:" || label->text() == "Velmar:") && label->isVisible();
        return shown;
    };
    // Started with the option: on, attached, the TCP fields hidden, the box itself never shown.
    EXPECT_FALSE(window->SharedMemoryBox().isVisible());
    EXPECT_TRUE(window->SharedMemoryBox().isChecked() &&
                window->Engine().Link().IsSharedMemoryMode());
    ASSERT_TRUE(window->Engine().SharedMemory().IsOn());
    EXPECT_TRUE(window->Engine().SharedMemory().Memory()->IsAttached());
    EXPECT_EQ(shownTcpFields(), 0);
    window->SharedMemoryBox().click();
    EXPECT_FALSE(window->Engine().Link().IsSharedMemoryMode() ||
                 window->Engine().SharedMemory().IsOn());
    EXPECT_EQ(shownTcpFields(), 2);
}

TEST_F(DialogsTest, MenuOpensEachDialogAndSetupItemsAreGreyFromReadyToIdle) {
    auto window = Window();
    EXPECT_TRUE(OnModal<Props>([&] { window->CameraPropertiesAction().trigger(); }, {}));
    EXPECT_TRUE(OnModal<CPreferencesDlg>([&] { window->PreferencesAction().trigger(); }, {}));
    EXPECT_TRUE(OnModal<CAboutDlg>([&] { window->AboutAction().trigger(); },
                                   [](CAboutDlg& about) {
                                       EXPECT_EQ(about.ShownSerial(), "21000512");
                                       EXPECT_EQ(about.ShownVersion(), QUILLON_PROJECT_VERSION);
                                   }));
    window->Engine().Race().OnReadyButton();
    EXPECT_FALSE(window->CameraPropertiesAction().isEnabled() ||
                 window->PreferencesAction().isEnabled());
    window->Engine().Race().OnIdle();
    EXPECT_TRUE(window->CameraPropertiesAction().isEnabled() &&
                window->PreferencesAction().isEnabled());

    // The about picture lets the box show through only its exact cyan.
    CAboutDlg about("", window.get());
    ASSERT_EQ(about.Picture().Image().size(), QSize(261, 233));
    EXPECT_EQ(about.Picture().Image().pixelColor(0, 0), CAboutDlg::kTransparent);
    QImage picture(2, 1, QImage::Format_RGB32);
    picture.setPixelColor(0, 0, QColor(0, 255, 255));
    picture.setPixelColor(1, 0, QColor(0, 254, 255));
    const QString file = QString::fromStdString((dir / "picture.png").string());
    ASSERT_TRUE(picture.save(file));
    CCISBitmap bitmap;
    ASSERT_TRUE(bitmap.LoadImageWithPalette(file));
    QImage target(4, 2, QImage::Format_RGB32);
    target.fill(QColor(10, 20, 30));
    QPainter painter(&target);
    bitmap.DrawTransparent(painter, 1, 1, CAboutDlg::kTransparent);
    painter.end();
    EXPECT_EQ(target.pixelColor(1, 1), QColor(10, 20, 30));
    EXPECT_EQ(target.pixelColor(2, 1), QColor(0, 254, 255));
}

TEST_F(DialogsTest, CameraPropertiesActOnTheCameraAtOnceAndSavedSettingsComeBack) {
    auto window = Window();
    CCamera& camera = *window->Engine().Device();
    CameraSettings& record = window->Engine().Camera();
    record.Exposure = 2.55f;
    auto dialog = Properties(*window);
    dialog->show();

    // Exposure in tenths of a millisecond, truncated; a change reaches camera and record.
    EXPECT_EQ(dialog->Edit(Props::kExposureId).GetPos(), 25);
    dialog->Edit(Props::kExposureId).SetPos(26);
    EXPECT_NEAR(Property(camera, kPropExposure), 2.6f, 1e-4);
    EXPECT_NEAR(record.Exposure, 2.6f, 1e-4);
    // The gain edit sets the master and all four channel gains.
    dialog->Edit(Props::kGainId).SetPos(2000);
    for (uint32_t p : {kPropGain, kPropGainRed, kPropGainGreen1, kPropGainGreen2, kPropGainBlue})
        EXPECT_FLOAT_EQ(Property(camera, p), 2.0f) << p;

    // Whole frames per second, rounded up; the camera snaps a chosen one to a rate it has.
    QStringList rates;
    for (int i = 0; i < dialog->FrameRates().count(); ++i)
        rates << dialog->FrameRates().itemText(i);
    EXPECT_EQ(rates, QStringList({"4", "8", "15", "25", "30", "50", "60", "100", "200", "500"}));
    EXPECT_EQ(dialog->FrameRates().currentText(), "25");
    dialog->FrameRates().setCurrentIndex(4);
    emit dialog->FrameRates().activated(4);
    EXPECT_FLOAT_EQ(record.Framerate, 29.97f);

    // Sizes: a multiple of 8 recentres the region and resizes the preview; others do nothing.
    using Region = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>; // width, height, x, y
    const std::tuple<Props::ControlId, int, Region> sizes[] = {
        {Props::kWidthId, 640, {640, 400, 704, 568}},
        {Props::kWidthId, 100, {640, 400, 704, 568}},
        {Props::kHeightId, 480, {640, 480, 704, 528}},
        {Props::kHeightId, 483, {640, 480, 704, 528}}};
    for (const auto& [id, value, region] : sizes) {
        dialog->OnEditChanged(id, value);
        EXPECT_EQ(std::tie(record.Width, record.Height, record.XOffset, record.YOffset), region)
            << value;
        EXPECT_EQ(window->Preview().size(), QSize(std::get<0>(region), std::get<1>(region)));
    }
    EXPECT_TRUE(WaitUntil([&] { return window->Preview().CurrentImage().width() == 640; }));

    // The warning compares the last frame time with the frame interval (no frame comes in
    // between: the event loop does not run). Before the first frame (-1) it stays as it was.
    const std::tuple<int32_t, float, const char*> cases[] = {
        {-1, 15.0f, "hidden"},
        {60, 15.0f, "Performance warning: 90%"},
        {-1, 15.0f, "Performance warning: 90%"},
        {50, 15.0f, "hidden"},
        {3, 2000.0f, "Performance warning: 300%"}};
    for (const auto& [frameTime, rate, text] : cases) {
        std::tie(record.FrameTimeMs, record.Framerate) = std::tie(frameTime, rate);
        dialog->CheckPerformance();
        const QLabel& warning = dialog->Warning();
        EXPECT_EQ(warning.isVisible() ? warning.text() : "hidden", text) << frameTime;
    }
    EXPECT_EQ(dialog->Warning().palette().color(QPalette::WindowText), QColor(255, 0, 0));

    // Settings saved and loaded through the file dialogs come back.
    std::tie(record.FrameTimeMs, record.Framerate) = std::make_tuple(-1, 25.0f);
    dialog->Edit(Props::kExposureId).SetPos(40);
    dialog->Edit(Props::kGainId).SetPos(3000);
    dialog->Edit(Props::kWidthId).SetPos(640);
    camera.Api().SetProperty(camera.Handle(), kPropGainRed, 1.5f, 0); // as a white balance does
    ChooseFile(dialog->SaveButton(), dir / "camera.ini",
               [&](const QString& file) { dialog->SaveSettingsTo(file); });
    ASSERT_TRUE(fs::exists(dir / "camera.ini"));

    dialog->Edit(Props::kGainId).SetPos(2000);
    dialog->Edit(Props::kExposureId).SetPos(60);
    dialog->Edit(Props::kWidthId).SetPos(800);
    ASSERT_EQ(record.Width, 800u);
    EXPECT_FLOAT_EQ(Property(camera, kPropGainRed), 2.0f); // a size change keeps the gains
    ChooseFile(dialog->LoadButton(), dir / "camera.ini",
               [&](const QString& file) { dialog->LoadSettingsFrom(file); });

    EXPECT_NEAR(record.Exposure, 4.0f, 1e-4);
    EXPECT_NEAR(Property(camera, kPropExposure), 4.0f, 1e-4);
    EXPECT_EQ(dialog->Edit(Props::kExposureId).GetPos(), 40);
    EXPECT_EQ(record.Width, 640u);
    EXPECT_EQ(dialog->Edit(Props::kWidthId).GetPos(), 640);
    EXPECT_EQ(window->Preview().size(), QSize(640, 480));
    // The loaded channel gains stay on the camera although the master edit moved, and the
    // record keeps them for the next start.
    EXPECT_EQ(dialog->Edit(Props::kGainId).GetPos(), 3000);
    EXPECT_FLOAT_EQ(Property(camera, kPropGain), 3.0f);
    EXPECT_FLOAT_EQ(Property(camera, kPropGainRed), 1.5f);
    EXPECT_FLOAT_EQ(Property(camera, kPropGainBlue), 3.0f);
    EXPECT_EQ(record.RedGain, 1500u);
}

// Counts that are no whole number in range keep the dialog open with a message; Cancel
// touches nothing; OK takes every field and rebuilds the ring.
TEST_F(DialogsTest, PreferencesRebuildTheRingAndCancelOrBadCountsTouchNothing) {
    auto window = Window();
    RecorderEngine& engine = window->Engine();
    const struct {
        const char *before, *after, *fileType;
        bool remote, ok, refused;
        int32_t framesBefore, framesAfter, ring, filetype, directory;
    } cases[] = {
        {"20", "30", "WMV (ALL)", true, true, false, 20, 30, 500, kFileWmvAll, 1},
        {"99", "99", "AVI", false, false, false, 20, 30, 500, kFileWmvAll, 1}, // Cancel
        {"5", "-5", "AVI", false, true, true, 20, 30, 500, kFileWmvAll, 1},
        {"5", "abc", "AVI", false, true, true, 20, 30, 500, kFileWmvAll, 1},
        {"5", "5001", "AVI", false, true, true, 20, 30, 500, kFileWmvAll, 1},
        {"5", "0", "wmv", false, true, false, 5, 0, 50, kFileVlv, 0},
        {"15", "10", "AVI", false, true, false, 15, 10, 250, kFileAvi, 0},
    };
    for (const auto& c : cases) {
        const AppSettings before = engine.App();
        EXPECT_TRUE(OnModal<CPreferencesDlg>(
            [&] { window->PreferencesAction().trigger(); },
            [&](CPreferencesDlg& prefs) {
                // The dialog opens with the settings in effect.
                EXPECT_EQ(prefs.FramesBeforeEdit().text(), QString::number(before.FramesBefore));
                EXPECT_EQ(prefs.RemoteButton().isChecked(), before.Directory == 1);
                prefs.FramesBeforeEdit().setText(c.before);
                prefs.FramesAfterEdit().setText(c.after);
                prefs.FileTypeBox().setCurrentText(c.fileType);
                (c.remote ? prefs.RemoteButton() : prefs.LocalButton()).setChecked(true);
                c.ok ? prefs.accept() : prefs.reject();
                // A refused count keeps the dialog open with a message (and is then cancelled).
                EXPECT_EQ(prefs.isVisible(), c.refused) << c.after;
                EXPECT_EQ(prefs.findChild<QMessageBox*>() != nullptr, c.refused) << c.after;
            }));
        const AppSettings& now = engine.App();
        EXPECT_EQ(std::tie(now.FramesBefore, now.FramesAfter, now.BufferLenght, now.Filetype,
                           now.Directory),
                  std::tie(c.framesBefore, c.framesAfter, c.ring, c.filetype, c.directory))
            << c.before;
        EXPECT_EQ(engine.Saving().Ring().Length(), c.ring);
    }
    // The next race's ring has the new length, with room for its frames.
    engine.Race().OnReadyButton();
    ASSERT_NE(engine.Saving().Recorder(), nullptr);
    EXPECT_EQ(engine.Saving().Ring().Length(), 250);
    EXPECT_GT(engine.Saving().Ring().FrameBytes(), 0u);
    engine.Race().OnIdle();
}

// The log's layout and lines are the log's own (PerformanceLogTest); here a real run names it
// after its format, with the tick source's frequency, and writes it only when asked to.
TEST_F(DialogsTest, PerformanceLogOfARealRun) {
    for (int enabled : {0, 1}) {
        std::ofstream(options.settingsPath)
            << "[Quillon]\r\nSavePerformanceLog=" << enabled
            << "\r\n[QuillonID_Camera]\r\nWidth=800\r\nHeight=400\r\nXOffset=624\r\n"
               "YOffset=568\r\nFramerate=25\r\nExposure=5\r\nReduction=1\r\n";
        {
            auto window = Window();
            const uint64_t until = window->Engine().ProcessedFrames() + 5;
            ASSERT_TRUE(WaitUntil([&] { return window->Engine().ProcessedFrames() >= until; }));
        }
        EXPECT_EQ(fs::exists(dir / "Orlin"), enabled == 1);
    }
    std::ifstream log(dir / "Orlin" / "Time test 800x400, fps 25, reduction 1.csv");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 6u + 5u);
    EXPECT_EQ(lines[1], "CPU frequency\t1000000000\r") << "the tick source's";
    EXPECT_EQ(lines[4], "40\r") << "the frame interval of 25 fps";
}

} // namespace
} // namespace quillon
