// The window and control wrappers over the updater's own window description.

#include <QApplication>
#include <QLabel>

#include <string>
#include <thread>

#include "ControlWrappers.h"
#include "nvtoolkit_p.h"
#include "updater_fixture.h"

namespace {

class LateWindow : public CWindow {
public:
    void attach(WindowRef w) { mWindow = w; }
};

std::string text(CControl& c) {
    NVString t("unchanged");
    c.GetWindowText(t);
    return std::string(t);
}

}  // namespace

TEST_F(UpdaterTest, MissingControlsAndWindowsAreSkipped) {
    FWUpdater u;
    CStatic absent(&u, 99);
    absent.SetWindowText("x");
    absent.ShowWindow(true);
    absent.EnableWindow(false);
    EXPECT_FALSE(absent.init());
    EXPECT_EQ(text(absent), "unchanged");

    // Bound once the window is there: the lookup is tried again on every call.
    LateWindow late;
    CStatic status(&late, 2);
    status.SetWindowText("before");
    EXPECT_EQ(text(status), "unchanged");
    NVString title("unchanged");
    late.GetWindowText(title);
    EXPECT_EQ(std::string(title), "");
    late.attach(u.getWindow());
    status.SetWindowText("after");
    EXPECT_EQ(text(status), "after");

    CStatic orphan(nullptr, 2);
    EXPECT_FALSE(orphan.init());
}

TEST_F(UpdaterTest, TextsTitlesAndRanges) {
    FWUpdater u;
    std::string longText(300, 'a');
    longText[254] = 'z';
    u.mStatus.SetWindowText(longText.c_str());
    EXPECT_EQ(text(u.mStatus), longText.substr(0, 255));

    u.mStatus.lockText(true);
    u.mStatus.SetWindowText("locked");
    EXPECT_EQ(text(u.mStatus), longText.substr(0, 255));
    u.mStatus.lockText(false);
    u.mStatus.SetWindowText("free");
    EXPECT_EQ(text(u.mStatus), "free");

    u.SetWindowText(nullptr);
    EXPECT_EQ(titleText(u), "");
    std::string title253(253, 't');
    u.SetWindowText(title253.c_str());
    EXPECT_EQ(titleText(u), title253);
    QApplication::processEvents();
    EXPECT_EQ(u.getWindow()->widget->windowTitle().toStdString(), title253);

    struct Row {
        int min, max, pos;
        int16_t wantMin, wantMax, wantPos;
    } rows[] = {
        {0, 288, 193, 0, 288, 193},
        {0, 70000, 70000, 0, 4464, 4464},       // low 16 bits, signed
        {-1, 40000, 65535, -1, -25536, -1},
    };
    ControlRef bar = controlOf(u, "prgb", 4);
    for (const Row& row : rows) {
        u.mProgress.SetRange(row.min, row.max);
        u.mProgress.SetPos(row.pos);
        EXPECT_EQ(GetControlMinimum(bar), row.wantMin);
        EXPECT_EQ(GetControlMaximum(bar), row.wantMax);
        EXPECT_EQ(GetControlValue(bar), row.wantPos);
    }

    u.mBtnOk.ShowWindow(true);
    u.mBtnFlash.EnableWindow(false);
    u.mBtnFlash.SetFocus();
    EXPECT_TRUE(IsControlVisible(controlOf(u, "push", 7)));
    EXPECT_FALSE(IsControlEnabled(controlOf(u, "push", 3)));
}

// The worker changes the status line and the progress while the GUI thread does too: each
// read sees the value set last, and the widget ends on it.
TEST_F(UpdaterTest, WrappersFromTheWorkerThread) {
    FWUpdater u;
    std::thread worker([&] {
        u.mProgress.SetRange(0, 288);
        for (int n = 0; n <= 288; ++n)
            u.mProgress.SetPos(n);
        u.mStatus.SetWindowText("Unplug the device now");
        EXPECT_EQ(text(u.mStatus), "Unplug the device now");
        u.mBtnFlash.EnableWindow(false);
    });
    worker.join();
    auto* label = qobject_cast<QLabel*>(controlOf(u, "stxt", 2)->widget.data());
    ASSERT_TRUE(pumpUntil([&] { return label->text() == "Unplug the device now"; }));
    EXPECT_FALSE(controlOf(u, "push", 3)->widget->isEnabled());
    EXPECT_EQ(GetControlValue(controlOf(u, "prgb", 4)), 288);
}
