// The rotary volume knob of the player window: a 236 x 236 control painted from seven images, turned with
// the mouse, animated towards the point the user drags to, and reporting its value (0..maximum) to its
// parent with WM_HSCROLL (SB_THUMBPOSITION in the low word, the value in the high word, lParam 0).
//
// The dial is drawn into a cached picture of its own: a full draw composes every layer, a move recomposes
// only the wedge between the old and the new knob position, and a paint copies the cache to the screen. No
// image is allocated while the knob turns. Every press on the control stays in it (none reaches the window
// behind), and a drag that is taken from it (a modal box opens, the window is deactivated, the grab goes
// elsewhere) ends at once: the knob stops where it is and the grab is let go. All members run on the UI
// thread.
#pragma once

#include "ImageSource.h"
#include "InputState.h"

#include <QBasicTimer>
#include <QImage>
#include <QWidget>

class QPainter;
class QPainterPath;

class CDialCtrl : public QWidget {
    Q_OBJECT

public:
    static constexpr int kBoxSize = 236;
    static constexpr int kMaxPosition = 300;
    static constexpr int kTimerId = 100;
    static constexpr int kTimerPeriodMs = 25;
    // The mouse is taken on the ring of these distances (pixels) around the centre.
    static constexpr double kRingInner = 34.0;
    static constexpr double kRingOuter = 118.0;

    // The control takes the focus by the keyboard's tab order and, from the mouse, only on its ring. Without
    // a loader the images are read from "Data/Image" under the current directory on the first draw.
    explicit CDialCtrl(int controlId, QWidget* parent = nullptr, ui::NamedImageLoader loader = {});
    ~CDialCtrl() override;

    // Draws the change from the current position to position (0..300), stores it and, unless quiet,
    // notifies the parent.
    void MoveTo(int position, bool quiet);
    // Jumps to the value (clamped to the maximum) without animation, ends the muting look, and notifies.
    // The knob then rests there: an animation under way stops (unless a drag holds it), and the next drag
    // turns it from there.
    void SetValue(unsigned value);
    unsigned GetValue() const noexcept;
    // Draws the lit arc with the muting glow (on) or the normal glow (off) and repaints the whole dial.
    void SetMuting(bool on);

    // The value at position 300. The owner sets it; 0 would make every value undefined and is refused
    // (returns false, the maximum is kept).
    bool SetMaximum(unsigned maximum) noexcept;
    unsigned Maximum() const noexcept { return maximum_; }

    // The animation step, run by timer kTimerId every 25 ms; public so a test can step the animation
    // without waiting for real time. Other ids are ignored.
    void OnTimer(int timerId);

    // Ends a drag without its release: the grab goes, the knob stops where it stands and the parent hears
    // that value once.
    void CancelDrag();

    // Draws the whole dial for the current position onto painter (box coordinates 0..236).
    void DrawItem(QPainter& painter);

    int Position() const noexcept { return position_; }
    int Target() const noexcept { return target_; }
    bool IsDragging() const noexcept { return dragging_; }
    bool IsMuting() const noexcept { return muting_; }
    bool IsAnimating() const noexcept { return timer_.isActive(); }
    double LastAngle() const noexcept { return lastAngle_; }
    // The picture the screen is painted from (null before the first draw).
    const QImage& Cache() const noexcept { return cache_; }

    // The angle of the direction from the point to the centre (117, 117), in degrees clockwise on screen
    // from +x, in [0, 360).
    static double PointerAngle(double x, double y) noexcept;
    // The knob position for a pointer angle, given the current position (kept in the dead zone at the
    // bottom).
    static int PositionForAngle(double angle, int currentPosition) noexcept;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void LoadImages();
    // Makes the cache match the widget's pixel ratio; returns true when it had to be (re)made.
    bool EnsureCache();
    // Composes every layer for the current state; with a clip, only inside it (everything under the clip is
    // replaced, so the result there is exactly that of a full draw).
    void Compose(QPainter& painter, const QPainterPath* clip) const;
    void RedrawWhole();
    void StartAnimation();
    void Notify() const;
    bool OnRing(double x, double y) const noexcept;

    ui::NamedImageLoader loader_;

    // The seven images, in premultiplied ARGB at the device pixel ratio of the cache.
    QImage knob_, face_, slit_, glowOn_, glowOff_, glowMuting_, marks_;
    QImage body_; // slit, knob and face laid on one another, box-sized
    bool imagesLoaded_ = false;
    qreal imageRatio_ = 0;
    // Half the angle (degrees) of the wedge around the knob position that the marks image covers; a move
    // recomposes that much either side of the old and the new position.
    double marksHalfWedge_ = 10.0;

    int centreX_ = 117;
    int centreY_ = 117;
    bool dragging_ = false;
    bool muting_ = false;
    double lastAngle_ = 0.0;
    double grabTolerance_ = 360.0;
    int position_ = 0;
    int target_ = 0;
    int tickCount_ = 0;
    unsigned maximum_ = 100;

    QImage cache_;
    bool cacheValid_ = false;
    QBasicTimer timer_;
    ui::PressWatch watch_{this, [this] { CancelDrag(); }};
};
