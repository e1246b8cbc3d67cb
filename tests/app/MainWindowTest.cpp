// The real main window and the operator's dialogs, offscreen, with the simulated camera
// streaming into them.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <fstream>

#include "CQuillonDlg.h"
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

// Runs `use` on the modal dialog that `open` brings up, then makes sure it is closed.
template <class Dialog>
bool OnModal(const std::function<void()>& open, const std::function<void(Dialog&)>& use) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        seen = true;
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
void ChooseFile([[maybe_unused]] QPushButton& press, const fs::path& path,
                [[maybe_unused]] const std::function<void(const QString&)>& chosen) {
    const QString file = QString::fromStdString(path.string());
#ifdef __SANITIZE_THREAD__
    chosen(file);
#else
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
    // First run: 800 x 400 region; the preview keeps its aspect ratio, scaled down as far as
    // the window needs to fit the screen.
    const int scale = int(window->Engine().Pipeline()->PreviewScale());
    EXPECT_EQ(window->Preview().size(), QSize(800 / scale, 400 / scale));
    EXPECT_LE(window->frameGeometry().width(), window->screen()->availableGeometry().width());
    QTest::mouseClick(&window->AutoBox(), Qt::LeftButton); // on at the first run
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
    EXPECT_EQ(
        std::make_tuple(camera.AutoCorrection, camera.MeanValue, window->BrightnessEdit().GetPos()),
        std::make_tuple(1, -1, 40));
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

// Counts that are no whole number in range keep the dialog open with a message; Cancel
// touches nothing; OK takes every field and rebuilds the ring the next race records into. The
// about box shows the camera's serial and the version. An end from outside (SIGTERM) closes
// it, then the window.
TEST_F(MainWindowTest, PreferencesRebuildTheRingButtonsFollowTheRaceAndAnEndClosesEverything) {
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
        EXPECT_EQ(std::make_tuple(now.FramesBefore, now.FramesAfter, now.BufferLenght, now.Filetype,
                                  now.Directory, engine.Saving().Ring().Length()),
                  std::tie(c.framesBefore, c.framesAfter, c.ring, c.filetype, c.directory, c.ring))
            << c.before;
    }
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
    RaceStateMachine& race = engine.Race();
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
    ASSERT_NE(engine.Saving().Recorder(), nullptr);
    EXPECT_GT(engine.Saving().Ring().FrameBytes(), 0u) << "a ring rebuilt with room for frames";
    // From READY to IDLE the set-up items of the menu are grey.
    EXPECT_FALSE(ready->isEnabled() || window->CameraPropertiesAction().isEnabled() ||
                 window->PreferencesAction().isEnabled());
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_EQ(race.State(), kStarted);
    EXPECT_FALSE(start->isEnabled());
    // The new race's time shows at once; the race's own texts still follow.
    EXPECT_EQ(elapsed->text(), "00:00:00");
    race.SetRaceTime(3723000);
    EXPECT_EQ(elapsed->text(), "01:02:03");
    // The arrival button opens a manual arrival and, pressed again, ends it.
    QTest::mouseClick(arrival, Qt::LeftButton);
    EXPECT_EQ(std::make_pair(race.ManualArrival(), race.ArrivalEndTime()),
              std::make_pair(true, 0u));
    QTest::mouseClick(arrival, Qt::LeftButton);
    EXPECT_TRUE(!race.ManualArrival() && race.ArrivalEndTime() != 0u);
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
    race.OnIdle();
    EXPECT_TRUE(window->CameraPropertiesAction().isEnabled() &&
                window->PreferencesAction().isEnabled());

    QTimer::singleShot(0, &window->AboutAction(), &QAction::trigger);
    bool aboutUp = false;
    QTimer::singleShot(300, window.get(), [&] {
        const auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        aboutUp = about && about->ShownSerial() == "21000512" &&
                  about->ShownVersion() == QUILLON_PROJECT_VERSION;
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

// The about picture lets the box show through only its exact cyan.
TEST_F(DialogsTest, AboutPictureShowsTheBoxThroughOnlyItsExactCyan) {
    CAboutDlg about("", nullptr);
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
    const auto property = [&](uint32_t p, float value = 0.0f, uint32_t flags = 0) {
        return camera.Api().GetProperty(camera.Handle(), p, value, flags) ? value : -1.0f;
    };
    CameraSettings& record = window->Engine().Camera();
    record.Exposure = 2.55f;
    const auto use = [&](Props& dialog) {
        // Exposure in tenths of a millisecond, truncated; a change reaches camera and record.
        EXPECT_EQ(dialog.Edit(Props::kExposureId).GetPos(), 25);
        dialog.Edit(Props::kExposureId).SetPos(26);
        EXPECT_NEAR(property(kPropExposure), 2.6f, 1e-4);
        EXPECT_NEAR(record.Exposure, 2.6f, 1e-4);
        // The gain edit sets the master and all four channel gains.
        dialog.Edit(Props::kGainId).SetPos(2000);
        for (uint32_t p :
             {kPropGain, kPropGainRed, kPropGainGreen1, kPropGainGreen2, kPropGainBlue})
            EXPECT_FLOAT_EQ(property(p), 2.0f) << p;

        // Whole frames per second, rounded up; the camera snaps a chosen one to a rate it has.
        QStringList rates;
        for (int i = 0; i < dialog.FrameRates().count(); ++i)
            rates << dialog.FrameRates().itemText(i);
        EXPECT_EQ(rates,
                  QStringList({"4", "8", "15", "25", "30", "50", "60", "100", "200", "500"}));
        EXPECT_EQ(dialog.FrameRates().currentText(), "25");
        dialog.FrameRates().setCurrentIndex(4);
        emit dialog.FrameRates().activated(4);
        EXPECT_FLOAT_EQ(record.Framerate, 29.97f);

        // Sizes: a multiple of 8 recentres the region and resizes the preview; others do nothing.
        using Region = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>; // width, height, x, y
        const std::tuple<Props::ControlId, int, Region> sizes[] = {
            {Props::kWidthId, 640, {640, 400, 704, 568}},
            {Props::kWidthId, 100, {640, 400, 704, 568}},
            {Props::kHeightId, 480, {640, 480, 704, 528}},
            {Props::kHeightId, 483, {640, 480, 704, 528}}};
        for (const auto& [id, value, region] : sizes) {
            dialog.OnEditChanged(id, value);
            EXPECT_EQ(std::tie(record.Width, record.Height, record.XOffset, record.YOffset), region)
                << value;
            EXPECT_EQ(window->Preview().size(), QSize(std::get<0>(region), std::get<1>(region)));
        }
        EXPECT_TRUE(WaitUntil([&] { return window->Preview().CurrentImage().width() == 640; }));

        // The warning compares the last frame time with the frame interval (no frame comes in
        // between: the event loop does not run). Before the first frame (-1) or without a rate
        // it stays as it was.
        const std::tuple<int32_t, float, const char*> cases[] = {
            {-1, 15.0f, nullptr}, {60, 15.0f, "90%"},   {-1, 15.0f, "90%"},
            {50, 15.0f, nullptr}, {3, 2000.0f, "300%"}, {60, 0.0f, "300%"}}; // nullptr: hidden
        for (const auto& [frameTime, rate, load] : cases) {
            std::tie(record.FrameTimeMs, record.Framerate) = std::tie(frameTime, rate);
            dialog.CheckPerformance();
            const QLabel& warning = dialog.Warning();
            EXPECT_EQ(warning.isVisible() ? warning.text() : "hidden",
                      load ? QString("Performance warning: ") + load : "hidden")
                << frameTime;
        }
        EXPECT_EQ(dialog.Warning().palette().color(QPalette::WindowText), QColor(255, 0, 0));

        // Settings saved and loaded through the file dialogs come back.
        std::tie(record.FrameTimeMs, record.Framerate) = std::make_tuple(-1, 25.0f);
        dialog.Edit(Props::kExposureId).SetPos(40);
        dialog.Edit(Props::kGainId).SetPos(3000);
        dialog.Edit(Props::kWidthId).SetPos(640);
        camera.Api().SetProperty(camera.Handle(), kPropGainRed, 1.5f, 0); // as a white balance does
        ChooseFile(dialog.SaveButton(), dir / "camera.ini",
                   [&](const QString& file) { dialog.SaveSettingsTo(file); });

        dialog.Edit(Props::kGainId).SetPos(2000);
        dialog.Edit(Props::kExposureId).SetPos(60);
        dialog.Edit(Props::kWidthId).SetPos(800);
        ASSERT_EQ(record.Width, 800u);
        EXPECT_FLOAT_EQ(property(kPropGainRed), 2.0f); // a size change keeps the gains
        ChooseFile(dialog.LoadButton(), dir / "camera.ini",
                   [&](const QString& file) { dialog.LoadSettingsFrom(file); });

        // The loaded channel gains stay on the camera although the master edit moved, and the
        // record keeps them for the next start.
        EXPECT_EQ(std::make_tuple(dialog.Edit(Props::kExposureId).GetPos(),
                                  dialog.Edit(Props::kWidthId).GetPos(),
                                  dialog.Edit(Props::kGainId).GetPos(), record.Width,
                                  record.RedGain),
                  std::make_tuple(40, 640, 3000, 640u, 1500u));
        EXPECT_NEAR(record.Exposure, 4.0f, 1e-4);
        EXPECT_EQ(window->Preview().size(), QSize(640, 480));
        for (const auto& [p, value] : {std::pair{kPropExposure, 4.0f},
                                       {kPropGain, 3.0f},
                                       {kPropGainRed, 1.5f},
                                       {kPropGainBlue, 3.0f}})
            EXPECT_NEAR(property(p), value, 1e-4) << p;
    };
    EXPECT_TRUE(OnModal<Props>([&] { window->CameraPropertiesAction().trigger(); }, use));
}

// Started with the shared-memory option: the box is checked and switched on but never shown,
// and the TCP fields stay hidden until it is switched off (the attachment itself is the shared
// memory tests' own). The log's layout and lines are the log's own (PerformanceLogTest); here
// a real run names it after its format and fills it.
TEST_F(DialogsTest, StartedWithOptionsItSwitchesSharedMemoryOnAndWritesThePerformanceLog) {
    PrivateTempDir tmp;
    options.sharedMemory = true;
    std::ofstream(options.settingsPath)
        << "[Quillon]\r\nSavePerformanceLog=1\r\n[QuillonID_Camera]\r\nWidth=800\r\nHeight=400\r\n"
           "XOffset=624\r\nYOffset=568\r\nFramerate=25\r\nExposure=5\r\nReduction=1\r\n";
    {
        auto window = Window();
        RecorderEngine& engine = window->Engine();
        const auto shownTcpFields = [&] {
            int shown = 0;
            for (QLabel* l : window->findChildren<QLabel*>())
                shown += l->isVisible() && (l->text() == "Port:" || l->text() == "Velmar:");
            return shown;
        };
        EXPECT_TRUE(!window->SharedMemoryBox().isVisible() &&
                    window->SharedMemoryBox().isChecked() && engine.Link().IsSharedMemoryMode() &&
                    engine.SharedMemory().IsOn());
        EXPECT_EQ(shownTcpFields(), 0);
        window->SharedMemoryBox().click();
        EXPECT_FALSE(engine.Link().IsSharedMemoryMode() || engine.SharedMemory().IsOn());
        EXPECT_EQ(shownTcpFields(), 2);
        const uint64_t until = engine.ProcessedFrames() + 5;
        ASSERT_TRUE(WaitUntil([&] { return engine.ProcessedFrames() >= until; }));
    }
    std::ifstream log(dir / "Orlin" / "Time test 800x400, fps 25, reduction 1.csv");
    int lines = 0;
    for (std::string line; std::getline(log, line);)
        ++lines;
    EXPECT_GE(lines, 6 + 5) << "the header and a line for each frame";
}

} // namespace
} // namespace quillon
