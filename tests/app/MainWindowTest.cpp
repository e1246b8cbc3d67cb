// The real main window, offscreen, with the simulated camera streaming into it.
#include <gtest/gtest.h>

#include <QScreen>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <map>
#include <tuple>

#include "CQuillonDlg.h"
#include "common/PrivateTempDir.h"
#include "common/TempDir.h"
#include "common/TestApplication.h"
#include "common/WaitUntil.h"
#include "settings/SettingsFile.h"
#include "ui/CNumericEdit.h"

namespace quillon {
namespace {

// The mean level of a picture: scaled down smoothly to one pixel, which averages it.
double MeanLevel(const QImage& image) {
    const QColor mean =
        image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
    return (mean.red() + mean.green() + mean.blue()) / 3.0;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        options.camera = "sim";
        options.settingsPath = dir.File("settings.ini");
    }

    // Waits for `count` more frames in the preview and returns the last one.
    QImage NextFrames(CQuillonDlg& window, uint64_t count) {
        const uint64_t until = window.Preview().FramesShown() + count;
        EXPECT_TRUE(WaitUntil([&] { return window.Preview().FramesShown() >= until; }));
        return window.Preview().CurrentImage();
    }

    QApplication& app = TestApplication();
    test::TempDir dir{"quillon-window"};
    ProgramOptions options;
    ManualTickSource ticks{1000};
};

TEST_F(MainWindowTest, FramesReachThePreviewAdjustmentsActOnTheNextFrameAndClosingKeepsThem) {
    {
        CQuillonDlg window(options, ticks);
        ASSERT_TRUE(window.IsUsable());
        ASSERT_TRUE(window.OnInitDialog());
        window.show();
        // First run: 800 x 400 region; the preview keeps its aspect ratio, scaled down as far as
        // the window needs to fit the screen.
        const int scale = int(window.Engine().Pipeline()->PreviewScale());
        EXPECT_EQ(window.Preview().size(), QSize(800 / scale, 400 / scale));
        EXPECT_LE(window.frameGeometry().width(), window.screen()->availableGeometry().width());
        if (window.AutoBox().isChecked())
            QTest::mouseClick(&window.AutoBox(), Qt::LeftButton);
        ASSERT_FALSE(window.AutoBox().isChecked() || window.BrightnessEdit().GetReadOnly());

        const double plain = MeanLevel(NextFrames(window, 3));
        window.BrightnessEdit().SetPos(120);
        EXPECT_EQ(window.Engine().Camera().Brightnes, 120);
        EXPECT_GT(MeanLevel(NextFrames(window, 2)), plain + 60);

        // Auto makes brightness read-only, keeps its value, and takes the next mean as target.
        window.BrightnessEdit().SetPos(40);
        QTest::mouseClick(&window.AutoBox(), Qt::LeftButton);
        EXPECT_TRUE(window.AutoBox().isChecked() && window.BrightnessEdit().GetReadOnly());
        const CameraSettings& camera = window.Engine().Camera();
        EXPECT_EQ(std::tie(camera.AutoCorrection, camera.MeanValue), std::make_tuple(1, -1));
        EXPECT_EQ(window.BrightnessEdit().GetPos(), 40);
        NextFrames(window, 8);
        EXPECT_GT(camera.MeanValue, 0);
        QTest::mouseClick(&window.AutoBox(), Qt::LeftButton);
        EXPECT_FALSE(window.BrightnessEdit().GetReadOnly());
        EXPECT_EQ(camera.AutoCorrection, 0);

        window.BrightnessEdit().SetPos(0);
        window.ContrastEdit().SetPos(0); // every byte becomes 127
        const QImage flat = NextFrames(window, 2);
        EXPECT_EQ(flat.pixelColor(10, 10), QColor(127, 127, 127));
        EXPECT_EQ(flat.pixelColor(flat.width() / 2, flat.height() / 2), QColor(127, 127, 127));
    }
    AppSettings app;
    CameraSettings camera;
    ASSERT_TRUE(LoadSettingsFile(options.settingsPath, app, camera));
    EXPECT_EQ(std::tie(camera.Contrast, camera.Width, camera.XOffset),
              std::make_tuple(0, 800u, 624u));
}

TEST_F(MainWindowTest, RaceButtonsAndTimeFollowTheRaceAndEnterDoesNothing) {
    CQuillonDlg window(options, ticks);
    ASSERT_TRUE(window.OnInitDialog());
    window.show();
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_TRUE(window.isVisible());
    RaceStateMachine& race = window.Engine().Race();
    race.SetRaceTime(3723000); // the last race ended at 01:02:03
    QLabel* elapsed = nullptr;
    for (QLabel* label : window.findChildren<QLabel*>())
        elapsed = label->text() == "01:02:03" ? label : elapsed;
    std::map<QString, QToolButton*> buttons;
    for (QToolButton* b : window.findChildren<QToolButton*>())
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
    CQuillonDlg window(options, ticks);
    ASSERT_TRUE(window.OnInitDialog());
    QTimer::singleShot(0, &window.AboutAction(), &QAction::trigger);
    bool aboutUp = false;
    QTimer::singleShot(300, &window, [&] {
        aboutUp = QApplication::activeModalWidget() != &window;
        window.EndFromOutside();
    });
    QTimer::singleShot(5000, &window, [] { // frees a failed test: hides every box
        while (QWidget* box = QApplication::activeModalWidget())
            box->hide();
    });
    QElapsedTimer took;
    took.start();
    window.exec();
    EXPECT_TRUE(aboutUp);
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindowTest, SharedMemoryBoxStaysHiddenAndSwapsTheTcpFieldsForTheSegment) {
    PrivateTempDir tmp;
    options.sharedMemory = true;
    CQuillonDlg window(options, ticks);
    ASSERT_TRUE(window.OnInitDialog());
    window.show();
    const auto shownTcpFields = [&] {
        int shown = 0;
        for (QLabel* label : window.findChildren<QLabel*>())
            shown += (label->text() == "Port:" || label->text() == "Velmar:") && label->isVisible();
        return shown;
    };
    // Started with the option: on, attached, the TCP fields hidden, the box itself never shown.
    EXPECT_FALSE(window.SharedMemoryBox().isVisible());
    EXPECT_TRUE(window.SharedMemoryBox().isChecked() &&
                window.Engine().Link().IsSharedMemoryMode());
    ASSERT_TRUE(window.Engine().SharedMemory().IsOn());
    EXPECT_TRUE(window.Engine().SharedMemory().Memory()->IsAttached());
    EXPECT_EQ(shownTcpFields(), 0);
    window.SharedMemoryBox().click();
    EXPECT_FALSE(window.Engine().Link().IsSharedMemoryMode() ||
                 window.Engine().SharedMemory().IsOn());
    EXPECT_EQ(shownTcpFields(), 2);
}

} // namespace
} // namespace quillon
