// The numeric edit driven as the operator drives it: keys into the text field, clicks on the
// spin arrows, a drag on the popup slider.
#include <gtest/gtest.h>

#include "common/TestApplication.h"
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "ui/CMyTrackPopup.h"
#include "ui/CNumericEdit.h"

namespace quillon {
namespace {

constexpr int kBrightnessId = 1049;
constexpr unsigned kSpinAndPopup = CNumericEdit::NES_SPIN | CNumericEdit::NES_POPUP;
const QColor kRed{255, 128, 128};

using Positions = std::vector<int>;
using Shown = std::pair<int, QString>;

class NumericEditTest : public ::testing::Test {
protected:
    NumericEditTest() {
        window.resize(260, 60);
        edit.setGeometry(10, 10, 100, 24);
        edit.SetRange(-255, 255);
        window.show();
    }

    QLineEdit& Text() { return *edit.findChild<QLineEdit*>("text"); }
    // "up", "down" or "popup".
    QToolButton& Button(const char* name) { return *edit.findChild<QToolButton*>(name); }
    Shown Now() { return {edit.GetPos(), Text().text()}; }
    void Click(QToolButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }
    void Key(Qt::Key key) { QTest::keyClick(&Text(), key); }

    // Replaces the whole text by typing, as the operator does after selecting it.
    void Retype(const char* keys) {
        Text().selectAll();
        QTest::keyClicks(&Text(), keys);
    }

    // The positions the parent was told of since the last call, each checked for the identifier.
    Positions Notified() {
        Positions positions;
        for (const QList<QVariant>& args : spy) {
            EXPECT_EQ(args.at(0).toInt(), kBrightnessId);
            positions.push_back(args.at(1).toInt());
        }
        spy.clear();
        return positions;
    }

    // The colour the operator sees behind the text, right of it.
    QColor FieldColour() {
        const QImage image = Text().grab().toImage();
        return image.pixelColor(image.width() - 2, image.height() / 2);
    }

    QApplication& app = TestApplication();
    QWidget window;
    CNumericEdit edit{kBrightnessId, kSpinAndPopup, &window};
    QSignalSpy spy{&edit, &CNumericEdit::changed};
};

TEST_F(NumericEditTest, StepSnapsSetPosSpinAndArrowKeys) {
    edit.SetStep(5);
    // From 10: inside one step either way goes to that step, further out truncates toward 0.
    const std::pair<int, int> cases[] = {{12, 15}, {8, 5}, {23, 20}, {-7, -5}};
    for (const auto& [request, expected] : cases) {
        edit.SetPos(10);
        edit.SetPos(request);
        EXPECT_EQ(Now(), Shown(expected, QString::number(expected))) << "request " << request;
    }
    edit.SetPos(10);
    Click(Button("up"));
    Key(Qt::Key_Up);
    EXPECT_EQ(edit.GetPos(), 20);
    Key(Qt::Key_Down);
    Click(Button("down"));
    EXPECT_EQ(Now(), Shown(10, "10"));

    // A step must be positive and smaller than the range.
    edit.SetRange(0, 100);
    for (int refused : {200, 100, 0, -3}) {
        edit.SetStep(refused);
        EXPECT_EQ(edit.GetStep(), 5) << refused;
    }
    // Snapped first, then clamped: the snapped value stays in the text.
    edit.SetPos(-7);
    EXPECT_EQ(Now(), Shown(0, "-5"));
    EXPECT_EQ(FieldColour(), kRed);

    // The spin keeps positions beyond sixteen bits.
    edit.SetRange(0, 100000);
    edit.SetStep(1);
    edit.SetPos(40000);
    Click(Button("up"));
    EXPECT_EQ(Now(), Shown(40001, "40001"));
}

// Only digits and a minus sign can be typed; a typed value beyond the range stays, on red,
// while the position is clamped.
TEST_F(NumericEditTest, TypingTakesDigitsAndMinusAndAValueBeyondTheRangeStaysOnRed) {
    Retype("1a2 .+b3");
    EXPECT_EQ(Now(), Shown(123, "123"));
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Now(), Shown(12, "12"));
    // Away from 0 a lone minus reads as 0 and is replaced at once...
    Retype("-");
    EXPECT_EQ(Now(), Shown(0, "0"));
    // ...at 0 it waits for its digits.
    Retype("-");
    EXPECT_EQ(Text().text(), "-");
    QTest::keyClicks(&Text(), "4");
    EXPECT_EQ(Now(), Shown(-4, "-4"));

    const QColor normal = FieldColour();
    ASSERT_NE(normal, kRed);
    Notified();
    Retype("300");
    EXPECT_EQ(Now(), Shown(255, "300"));
    EXPECT_EQ(FieldColour(), kRed);
    const Positions told = Notified();
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), 255) << "clamped";
    // The spin stands at the clamped end: up does nothing, down comes back into the range.
    Click(Button("up"));
    EXPECT_EQ(Text().text(), "300");
    EXPECT_TRUE(Notified().empty());
    Click(Button("down"));
    EXPECT_EQ(Now(), Shown(254, "254"));
    EXPECT_EQ(FieldColour(), normal);
    // A minus sign sticks only at position 0 (alone it reads as 0).
    edit.SetPos(0);
    Retype("-1000");
    EXPECT_EQ(Now(), Shown(-255, "-1000"));
    EXPECT_EQ(FieldColour(), kRed);
}

// The parent hears of a position only when it changes, never of a new range, and nothing of
// the operator's while the edit is read-only; the program still sets it then. The parent may
// set edits from its own change handler.
TEST_F(NumericEditTest, NotifiesOnlyOnChangesKeepsAReadOnlyOperatorOutAndLetsTheParentReenter) {
    edit.SetPos(20);
    EXPECT_EQ(Notified(), Positions{20});
    edit.SetPos(20);
    EXPECT_EQ(Notified(), Positions{});
    // The set-and-announce path states the position even when nothing changed.
    edit.SetPosAndAnnounce(20);
    EXPECT_EQ(Notified(), Positions{20});

    edit.SetPos(300);
    EXPECT_EQ(Notified(), Positions{255});
    edit.SetPos(300);
    Key(Qt::Key_Up);
    EXPECT_EQ(Notified(), Positions{});
    edit.SetPos(-255);
    Notified();
    Key(Qt::Key_Down);
    Click(Button("down"));
    EXPECT_EQ(Notified(), Positions{});

    // A new range pulls the position in without a word to the parent.
    edit.SetPos(5);
    Notified();
    edit.SetRange(10, 20);
    EXPECT_EQ(Now(), Shown(10, "10"));
    edit.SetRange(0, 8);
    EXPECT_EQ(Now(), Shown(8, "8"));
    EXPECT_EQ(Notified(), Positions{});

    edit.SetRange(-255, 255);
    edit.SetPos(40);
    Notified();
    edit.SetReadOnly(true);
    EXPECT_FALSE(Button("popup").isEnabled() || Button("up").isEnabled() ||
                 Button("down").isEnabled());
    QTest::keyClicks(&Text(), "7");
    Key(Qt::Key_Up);
    EXPECT_EQ(Now(), Shown(40, "40"));
    EXPECT_EQ(Notified(), Positions{});
    // The program still sets it, as the automatic brightness does.
    edit.SetPos(-30);
    EXPECT_EQ(Text().text(), "-30");
    EXPECT_EQ(Notified(), Positions{-30});
    edit.SetReadOnly(false);
    EXPECT_TRUE(Button("popup").isEnabled());
    Click(Button("up"));
    EXPECT_EQ(edit.GetPos(), -29);

    // The parent may set edits from its change handler: here it follows brightness with
    // contrast and refuses brightness above 200.
    CNumericEdit contrast(kBrightnessId + 1, kSpinAndPopup, &window);
    contrast.SetRange(0, 900);
    QObject::connect(&edit, &CNumericEdit::changed, [&](int, int position) {
        contrast.SetPos(position + 100);
        if (position > 200)
            edit.SetPos(200);
    });
    Retype("250");
    EXPECT_EQ(Now(), Shown(200, "200"));
    EXPECT_EQ(contrast.GetPos(), 300);
    Key(Qt::Key_Down);
    EXPECT_EQ(contrast.GetPos(), 299);
    Key(Qt::Key_Up);
    Key(Qt::Key_Up);
    EXPECT_EQ(Now(), Shown(200, "200"));
    EXPECT_EQ(contrast.GetPos(), 300);
}

TEST_F(NumericEditTest, PopupSliderDragsThePositionInSteps) {
    edit.SetRange(0, 900);
    edit.SetStep(50);
    edit.SetPos(100);
    Notified();
    // The operator was typing elsewhere; after the drag the focus is in this edit's text.
    QLineEdit elsewhere(&window);
    elsewhere.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    elsewhere.setFocus();
    ASSERT_TRUE(elsewhere.hasFocus());

    QTest::mousePress(&Button("popup"), Qt::LeftButton);
    auto* popup = edit.findChild<CMyTrackPopup*>();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible() && edit.IsPopupOpen() && Button("popup").isDown());
    const int y = popup->height() / 2;
    QTest::mouseMove(popup, QPoint(popup->width() - 1, y));
    EXPECT_EQ(Now(), Shown(900, "900"));
    EXPECT_EQ(Notified(), Positions{900});
    QTest::mouseMove(popup, QPoint(popup->width() / 2, y));
    const int middle = edit.GetPos();
    EXPECT_TRUE(middle > 0 && middle < 900 && middle % 50 == 0) << middle;
    EXPECT_EQ(Notified(), Positions{middle});
    // While the slider is open, a value set in code is shown but not announced.
    edit.SetPos(300);
    EXPECT_EQ(Text().text(), "300");
    EXPECT_EQ(Notified(), Positions{});

    QTest::mouseMove(popup, QPoint(0, y));
    QTest::mouseRelease(popup, Qt::LeftButton, {}, QPoint(0, y));
    EXPECT_FALSE(edit.IsPopupOpen() || Button("popup").isDown());
    EXPECT_TRUE(Text().hasFocus());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(edit.findChild<CMyTrackPopup*>(), nullptr);
    EXPECT_EQ(edit.GetPos(), 0);
}

} // namespace
} // namespace quillon
