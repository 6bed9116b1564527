// The main window: a captionless, full-screen black window that fades in when it opens and out when the
// program ends, with the player panel centred in it. Its modal loop (exec) is the program's life: it ends
// with 1 after the fade out, or at once when the window is closed by the desktop or after a driver error.
// UI thread only.
#pragma once

#include "CPlayerDialog.h"
#include "ui/PanelDimmer.h"

#include <QBasicTimer>
#include <QDialog>
#include <QSize>

namespace app {

class CBGDialog : public QDialog, public PlayerHost {
    Q_OBJECT

public:
    static constexpr int kFadeTimer = 100;
    static constexpr int kFadeOutTimer = 101;
    static constexpr int kFadeStep = 20;
    static constexpr int kFadePeriodMs = 10;
    // How long a window manager has to take a minimised window off the screen before the window withdraws.
    static constexpr int kMinimiseCheckMs = 500;

    CBGDialog(PlayerServices& services, PlayerOptions options = {}, QWidget* parent = nullptr);
    ~CBGDialog() override;

    // Shows the window full screen (transparent, fading in) and starts the panel.
    void OnInitDialog();

    // PlayerHost.
    void StartFadeOut() override;
    void EndNow() override;
    void Minimise() override;

    // One tick of the window's fade timers (the timers call it; tests step it directly).
    void OnTimer(int id);
    bool FadingIn() const { return fadeIn_.isActive(); }
    bool FadingOut() const { return fadeOut_.isActive(); }
    int FadeLevel() const noexcept { return fadeLevel_; }

    CPlayerDialog& Panel() noexcept { return panel_; }

    // The factor (1..3, in steps of 1/64) by which the panel is drawn on a screen of this size in pixels:
    // the largest with which it fits, so that it fills the screen edge to edge in height on a television
    // (1.40625 on 1920 x 1080, 2.8125 on 3840 x 2160). The pictures are then drawn from the artwork made
    // for the next whole scale above (2x, 3x), smoothly reduced, never enlarged from a smaller one.
    static double FitScale(int screenWidth, int screenHeight) noexcept;
    // The window's size in scaled pixels that covers a screen of `native` pixels at this pixel ratio: on
    // each side the fewest scaled pixels that Qt's rounding maps to at least the screen's pixels. Qt gives
    // the screen's own size in scaled pixels rounded to whole ones, which can fall a pixel short (3840 /
    // 2.8125 = 1365.33 is 1365, which maps back to 3839) or be exact (1024 / 1.25 = 819.2 is 819, which maps
    // back to 1024), so only the screen's size in pixels tells them apart.
    static QSize CoveringSize(QSize native, double pixelRatio) noexcept;
    // The screen's size in pixels, where the program measured it before it started again scaled; the
    // window then covers it to the last pixel (see CoveringSize). Without it the window takes the screen's
    // size in scaled pixels as Qt gives it. Call before OnInitDialog.
    void SetScreenPixels(QSize native) noexcept { screenPixels_ = native; }

    // Brings the window to the front, restored when it was minimised (a second copy's request).
    void RestoreAndRaise();
    // Whether the window, minimised, has left the screen: taken off it by the window manager, or, where none
    // took the request, withdrawn by the window itself.
    bool OffScreen() const;

protected:
    void timerEvent(QTimerEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void ApplyFade();
    void CentrePanel();
    void Withdraw();
    void Finish(int result);

    QSize screenPixels_;

    int fadeLevel_ = 0;
    CPlayerDialog panel_;
    // Made after the panel, so its sheet lies over it.
    ui::PanelDimmer dimmer_{this};
    QBasicTimer fadeIn_;
    QBasicTimer fadeOut_;
    // After a minimise: whether a window manager has taken the window off the screen.
    QBasicTimer minimiseCheck_;
    bool withdrawn_ = false;
    bool finished_ = false;
    bool opacitySupported_ = true;
};

} // namespace app
