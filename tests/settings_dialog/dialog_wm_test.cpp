// The dialog under a window manager, driven by real pointer and key events.
#include "dialog_fixture.h"
#include "x11_test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tarnwick::testing {
namespace {

void clickAt(const QWidget* w) {
    const QPoint at = w->mapToGlobal(w->rect().center());
    runTool("xdotool", {"mousemove", std::to_string(at.x()), std::to_string(at.y()), "click", "1"});
}

// Generous: the window manager and the X server share a loaded machine with other tests.
constexpr int kWaitMs = 20000;

TEST_F(DialogTest, ZoomEnteredThroughTheWindowsActivationIsChecked) {
    TfrmConfig& d = show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d, kWaitMs));
    clickAt(d.lblZoom);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d, kWaitMs));
    // Another program takes the focus; the user then clicks straight into the zoom field.
    OtherClient x;
    const unsigned long other = x.createWindow(200, 100, "other");
    ASSERT_TRUE(pumpUntil([&] { return x.isViewable(other); }, kWaitMs));
    runTool("xdotool", {"mousemove", "20", "20", "click", "1"});
    ASSERT_TRUE(pumpUntil([&] { return !d.isActiveWindow(); }, kWaitMs));
    // The press reaches the field before the window is active (as a press handled ahead of the
    // activation does): the field only gets its focus with the activation a click then brings.
    d.fEdit->setFocus(Qt::MouseFocusReason);
    ASSERT_FALSE(d.fEdit->hasFocus());
    clickAt(d.lblZoom);
    ASSERT_TRUE(pumpUntil([&] { return d.isActiveWindow() && d.fEdit->hasFocus(); }, kWaitMs));
    runTool("xdotool", {"key", "ctrl+a", "5"});
    ASSERT_TRUE(pumpUntil([&] { return d.fEdit->text() == "5"; }, kWaitMs));
    clickAt(d.btnOk);
    ASSERT_TRUE(pumpUntil([&] { return !d.isVisible(); }, kWaitMs));
    EXPECT_EQ(services.beeps, 1);
    EXPECT_EQ(stored("fEdit_Value"), "0.96");
}

} // namespace
} // namespace tarnwick::testing
