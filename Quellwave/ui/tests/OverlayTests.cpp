// The dimming overlay: it shows maximised, black, at 180/255 while the inner dialog runs above it, and
// returns whatever the inner dialog returned.
#include "CDialogAlphaBlend.h"

#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Seen {
    bool overlayVisible = false;
    bool innerVisible = false;
    bool maximised = false;
    bool modal = false;
    double opacity = 0.0;
    QColor background;
};

// Runs the overlay around a fresh inner dialog that ends with `code` once it is on screen; records what the
// overlay looked like then.
int RunWith(int code, Seen* seen) {
    QDialog inner;
    CDialogAlphaBlend overlay(&inner);
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!inner.isVisible())
            return;
        watch.stop();
        seen->overlayVisible = overlay.isVisible();
        seen->innerVisible = true;
        seen->maximised = overlay.windowState().testFlag(Qt::WindowMaximized);
        seen->modal = overlay.isModal() || overlay.testAttribute(Qt::WA_ShowModal);
        seen->opacity = overlay.windowOpacity();
        seen->background = overlay.palette().color(QPalette::Window);
        inner.done(code);
    });
    watch.start();
    return overlay.exec();
}

TEST(OverlayTest, ReturnsTheInnerDialogsResultAndShowsDimmed) {
    for (int code : {int(QDialog::Accepted), int(QDialog::Rejected), 42}) {
        SCOPED_TRACE(code);
        Seen seen;
        EXPECT_EQ(RunWith(code, &seen), code);
        EXPECT_TRUE(seen.innerVisible);
        EXPECT_TRUE(seen.overlayVisible) << "the overlay stays up for as long as the inner dialog";
        EXPECT_TRUE(seen.maximised);
        EXPECT_TRUE(seen.modal);
        // Window opacity is kept as a fraction; 180/255 within its 8-bit step.
        EXPECT_NEAR(seen.opacity * 255.0, 180.0, 0.5);
        EXPECT_EQ(seen.background, QColor(Qt::black));
    }
}

TEST(OverlayTest, WithoutAnInnerDialogClosesAtOnce) {
    CDialogAlphaBlend overlay(nullptr);
    EXPECT_EQ(overlay.exec(), int(QDialog::Rejected));
    EXPECT_FALSE(overlay.isVisible());
}

} // namespace
