// The dimming overlay: maximised, black and at 180/255 while the inner dialog runs above it; it returns
// whatever the inner dialog returned.
#include "ui/CDialogAlphaBlend.h"

#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(OverlayTest, ReturnsTheInnerResultAndShowsDimmedMeanwhile) {
    for (int code : {int(QDialog::Accepted), int(QDialog::Rejected), 42}) {
        SCOPED_TRACE(code);
        QDialog inner;
        CDialogAlphaBlend overlay(&inner);
        bool seen = false;
        QTimer watch;
        // Once the inner dialog is up, look at the overlay and end the inner dialog with the code.
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!inner.isVisible())
                return;
            watch.stop();
            seen = true;
            EXPECT_TRUE(overlay.isVisible());
            EXPECT_TRUE(overlay.testAttribute(Qt::WA_ShowModal));
            EXPECT_TRUE(overlay.windowState().testFlag(Qt::WindowMaximized));
            EXPECT_NEAR(overlay.windowOpacity() * 255.0, 180.0, 0.5);
            EXPECT_EQ(overlay.palette().color(QPalette::Window), QColor(Qt::black));
            inner.done(code);
        });
        watch.start(5);
        EXPECT_EQ(overlay.exec(), code);
        EXPECT_TRUE(seen);
        EXPECT_FALSE(overlay.isVisible());
    }
    CDialogAlphaBlend empty(nullptr);
    EXPECT_EQ(empty.exec(), int(QDialog::Rejected));
}

} // namespace
