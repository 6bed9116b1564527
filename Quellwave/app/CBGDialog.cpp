#include "CBGDialog.h"

#include "shell/ResourceModules.h"

#include <QCloseEvent>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include <xcb/xcb.h>

namespace app {

CBGDialog::CBGDialog(PlayerServices& services, PlayerOptions options, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint),
      panel_(services, this, std::move(options), this) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    opacitySupported_ = QGuiApplication::platformName() != QLatin1String("offscreen");
}

CBGDialog::~CBGDialog() = default;

void CBGDialog::OnInitDialog() {
    fadeLevel_ = 0;
    ApplyFade();
    fadeIn_.start(kFadePeriodMs, this);
    setWindowIcon(ResourceIcon(kIconProgram));
    setWindowTitle(TheResources().ApplicationTitle());
    panel_.OnInitDialog();
    // The whole screen even where no window manager honours the full-screen request.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect whole = screen->geometry();
        if (!screenPixels_.isEmpty())
            whole.setSize(CoveringSize(screenPixels_, screen->devicePixelRatio()));
        setGeometry(whole);
    }
    CentrePanel();
    showFullScreen();
}

double CBGDialog::FitScale(int screenWidth, int screenHeight) noexcept {
    const double fit =
        std::min(double(screenWidth) / CPlayerDialog::kWidth, double(screenHeight) / CPlayerDialog::kHeight);
    // Steps of 1/64 keep the panel's edges on whole pixels for the common screen sizes.
    return std::clamp(std::floor(fit * 64.0) / 64.0, 1.0, 3.0);
}

void CBGDialog::ApplyFade() {
    // Platforms without window opacity (the offscreen one) show the window at once.
    if (opacitySupported_)
        setWindowOpacity(fadeLevel_ / 255.0);
}

QSize CBGDialog::CoveringSize(QSize native, double pixelRatio) noexcept {
    // Qt maps a side of n scaled pixels to qRound(n * ratio) pixels.
    const auto cover = [pixelRatio](int pixels) {
        int side = std::max(1, int(std::floor(pixels / pixelRatio)));
        while (side > 1 && std::lround((side - 1) * pixelRatio) >= pixels)
            --side;
        while (std::lround(side * pixelRatio) < pixels)
            ++side;
        return side;
    };
    return {cover(native.width()), cover(native.height())};
}

void CBGDialog::CentrePanel() {
    // Where the window reaches past the screen's edge to cover its last pixel (see CoveringSize), the
    // panel is centred on the screen as Qt gives it, where it stands in a window of exactly that size.
    QSize room = size();
    if (const QScreen* shown = screen()) {
        const QSize beyond = size() - shown->geometry().size();
        if (beyond.width() >= 0 && beyond.width() <= 1 && beyond.height() >= 0 && beyond.height() <= 1)
            room = shown->geometry().size();
    }
    panel_.move((room.width() - panel_.width()) / 2, (room.height() - panel_.height()) / 2);
}

void CBGDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    CentrePanel();
}

void CBGDialog::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), Qt::black);
}

void CBGDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() == fadeIn_.timerId())
        OnTimer(kFadeTimer);
    else if (event->timerId() == fadeOut_.timerId())
        OnTimer(kFadeOutTimer);
    else if (event->timerId() == minimiseCheck_.timerId()) {
        minimiseCheck_.stop();
        if (isMinimized() && !OffScreen())
            Withdraw();
    } else
        QDialog::timerEvent(event);
}

void CBGDialog::OnTimer(int id) {
    if (id == kFadeTimer) {
        fadeLevel_ += kFadeStep;
        if (fadeLevel_ >= 255) {
            fadeLevel_ = 255;
            fadeIn_.stop();
        }
        ApplyFade();
    } else if (id == kFadeOutTimer) {
        fadeLevel_ -= kFadeStep;
        if (fadeLevel_ <= 0) {
            fadeLevel_ = 0;
            fadeOut_.stop();
            ApplyFade();
            Finish(1);
            return;
        }
        ApplyFade();
    }
}

void CBGDialog::StartFadeOut() {
    fadeIn_.stop();
    fadeOut_.start(kFadePeriodMs, this);
}

void CBGDialog::EndNow() {
    Finish(1);
}

void CBGDialog::Finish(int result) {
    if (finished_)
        return;
    finished_ = true;
    fadeIn_.stop();
    fadeOut_.stop();
    panel_.OnClose();
    done(result);
}

void CBGDialog::Minimise() {
    showMinimized();
    minimiseCheck_.start(kMinimiseCheckMs, this);
}

bool CBGDialog::OffScreen() const {
    return isMinimized() && (withdrawn_ || windowHandle() == nullptr || !windowHandle()->isExposed());
}

void CBGDialog::Withdraw() {
    // The request to minimise goes to the window manager; without one nobody answers it and the window
    // would stay on the screen. It then leaves the screen as a minimised window does: unmapped, until
    // RestoreAndRaise maps it again (leaving the minimised state maps the window).
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        xcb_connection_t* connection = x11->connection();
        xcb_unmap_window(connection, static_cast<xcb_window_t>(winId()));
        xcb_flush(connection);
        withdrawn_ = true;
    }
}

void CBGDialog::RestoreAndRaise() {
    withdrawn_ = false;
    if (isMinimized())
        showFullScreen();
    raise();
    activateWindow();
}

void CBGDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        panel_.PausePlaying();
        panel_.NoteStateChange();
    }
    QDialog::changeEvent(event);
}

void CBGDialog::closeEvent(QCloseEvent* event) {
    // Closed by the desktop (its window menu or a close request): the program ends at once, without fade.
    event->accept();
    Finish(1);
}

void CBGDialog::keyPressEvent(QKeyEvent* event) {
    // A dialog would close on Esc; the main window ends only by its close button or the desktop.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace app
