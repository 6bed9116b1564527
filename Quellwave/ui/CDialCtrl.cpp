#include "CDialCtrl.h"

#include "ControlNotify.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// The centre of the box as the dial has always computed it: 236 x 0.5 - 1, truncated.
constexpr int kCentre = static_cast<int>(CDialCtrl::kBoxSize * 0.5 - 1);
constexpr double kDegreesPerRadian = 57.29579143313326;
// Degrees to radians with pi taken as 3.141592, and 45 degrees as 0.785398: the marks image's placement
// was tuned with these values.
constexpr double kRadiansPerDegree = 0.01745328888888889;
constexpr double kQuarterPi = 0.785398;
// The scale starts at 120 degrees (lower left) and runs 300 degrees clockwise.
constexpr double kScaleStart = 120.0;

const QRectF kBox(0, 0, CDialCtrl::kBoxSize, CDialCtrl::kBoxSize);

// A pie of the ellipse in rect; start and sweep are in degrees clockwise on screen, taken as single-precision
// floats.
QPainterPath Pie(const QRectF& rect, double start, double sweep) {
    QPainterPath path;
    path.moveTo(rect.center());
    path.arcTo(rect, -static_cast<float>(start), -static_cast<float>(sweep));
    path.closeSubpath();
    return path;
}

QSizeF LogicalSize(const QImage& image) {
    return image.deviceIndependentSize();
}

// Images are drawn at their own size, centred in the box (the offset truncated to whole pixels).
void DrawCentred(QPainter& painter, const QImage& image) {
    if (image.isNull())
        return;
    const QSizeF size = LogicalSize(image);
    const double left = std::trunc((CDialCtrl::kBoxSize - size.width()) * 0.5);
    const double top = std::trunc((CDialCtrl::kBoxSize - size.height()) * 0.5);
    painter.drawImage(QPointF(left, top), image);
}

// Half the angle that the non-transparent pixels of the marks image span around its pointer, which lies at
// the start of the scale when the image is not turned. Pixels within 3 pixels of the image's centre are left
// out: a move always recomposes a small disc around the centre.
double MarksHalfWedge(const QImage& marks) {
    if (marks.isNull())
        return 0.0;
    const double ratio = marks.devicePixelRatio();
    const double cx = marks.width() * 0.5;
    const double cy = marks.height() * 0.5;
    double widest = 0.0;
    for (int y = 0; y < marks.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(marks.constScanLine(y));
        for (int x = 0; x < marks.width(); ++x) {
            if (qAlpha(line[x]) == 0)
                continue;
            const double dx = x + 0.5 - cx;
            const double dy = y + 0.5 - cy;
            if (std::hypot(dx, dy) < 3.0 * ratio)
                continue;
            double off = std::atan2(dy, dx) * kDegreesPerRadian - kScaleStart;
            off = std::remainder(off, 360.0);
            widest = std::max(widest, std::fabs(off));
        }
    }
    return widest;
}

// The lit arc does not end in the pie's straight edge: over this many degrees around the knob's position it
// fades out in steps, as the light of a real lamp ring would.
constexpr double kGlowFadeDegrees = 6.0;
constexpr int kGlowFadeSteps = 6;

} // namespace

CDialCtrl::CDialCtrl(int controlId, QWidget* parent, ui::NamedImageLoader loader)
    : QWidget(parent), loader_(loader ? std::move(loader) : ui::DefaultDialImageLoader()) {
    ui::SetControlId(this, controlId);
    // A tab stop that takes the focus from the mouse only on its ring (see mousePressEvent).
    setFocusPolicy(Qt::TabFocus);
    setFixedSize(kBoxSize, kBoxSize);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

CDialCtrl::~CDialCtrl() = default;

double CDialCtrl::PointerAngle(double x, double y) noexcept {
    const double dx = kCentre - x;
    const double dy = kCentre - y;
    double angle;
    if (dx == 0.0) {
        angle = dy > 0.0 ? 90.0 : (dy < 0.0 ? 270.0 : 0.0);
    } else if (dy == 0.0) {
        angle = dx > 0.0 ? 0.0 : 180.0;
    } else {
        angle = std::atan2(dy, dx) * kDegreesPerRadian;
    }
    if (angle < 0.0)
        angle += 360.0;
    if (angle >= 360.0)
        angle -= 360.0;
    return angle;
}

int CDialCtrl::PositionForAngle(double angle, int currentPosition) noexcept {
    // The 60-degree gap at the bottom: 14 degrees next to each end snap to that end, the 32 in the middle
    // leave the knob where it is.
    if (angle > 300.0)
        return static_cast<int>(angle - 300.0);
    if (angle > 286.0)
        return 0;
    if (angle > 254.0)
        return currentPosition;
    if (angle > 240.0)
        return kMaxPosition;
    return static_cast<int>(angle + 60.0);
}

bool CDialCtrl::OnRing(double x, double y) const noexcept {
    const double d = std::sqrt((x - centreX_) * (x - centreX_) + (y - centreY_) * (y - centreY_));
    return !(d < kRingInner || d > kRingOuter);
}

unsigned CDialCtrl::GetValue() const noexcept {
    return static_cast<unsigned>(std::uint64_t{maximum_} * static_cast<unsigned>(position_) / kMaxPosition);
}

bool CDialCtrl::SetMaximum(unsigned maximum) noexcept {
    if (maximum == 0)
        return false;
    maximum_ = maximum;
    return true;
}

void CDialCtrl::SetValue(unsigned value) {
    value = std::min(value, maximum_);
    const int position = static_cast<int>(std::uint64_t{value} * kMaxPosition / maximum_);
    if (muting_) {
        muting_ = false;
        RedrawWhole();
    }
    // The knob stands where it jumped to: an animation under way has nothing left to do, and a drag that
    // follows starts from here (a target left behind made the next drag wait for its release).
    if (!dragging_)
        timer_.stop();
    target_ = position;
    MoveTo(position, false);
}

void CDialCtrl::SetMuting(bool on) {
    muting_ = on;
    RedrawWhole();
}

void CDialCtrl::Notify() const {
    const auto value = static_cast<WORD>(GetValue() & 0xFFFF);
    ui::NotifyParent(this, WM_HSCROLL, ui::MAKEWPARAM(ui::SB_THUMBPOSITION, value), 0);
}

void CDialCtrl::LoadImages() {
    const qreal ratio = devicePixelRatioF();
    if (imagesLoaded_ && ratio == imageRatio_)
        return;
    // Loaded once per screen scale and kept: a missing file leaves its layer empty and is not looked for
    // again. A picture whose scale is not the screen's is resampled here, once, so that every later draw of
    // an unturned layer is a plain copy.
    const int scale = ui::ScaleForPixelRatio(ratio);
    const auto load = [&](const char* name) {
        QImage image = loader_(QString::fromLatin1(name), scale);
        if (image.isNull())
            return image;
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (image.devicePixelRatio() != ratio) {
            const QSizeF logical = image.deviceIndependentSize();
            image = image.scaled(qRound(logical.width() * ratio), qRound(logical.height() * ratio),
                                 Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            image.setDevicePixelRatio(ratio);
        }
        return image;
    };
    knob_ = load("volume_dial.png");
    face_ = load("mojiban.png");
    slit_ = load("indicator_slit.png");
    glowOn_ = load("indicator_glow_on.png");
    glowOff_ = load("indicator_glow_off.png");
    glowMuting_ = load("indicator_glow_muting.png");
    marks_ = load("volume_dial_marks_7.png");
    marksHalfWedge_ = std::max(10.0, MarksHalfWedge(marks_) + 2.0);
    // A move redraws the fade around the old and the new position too.
    marksHalfWedge_ = std::max(marksHalfWedge_, kGlowFadeDegrees / 2 + 2.0);
    // The slit, the knob and the face never move: laid on one another once, they are one layer to draw.
    body_ = QImage();
    if (!slit_.isNull() || !knob_.isNull() || !face_.isNull()) {
        const int side = static_cast<int>(std::ceil(kBoxSize * ratio));
        body_ = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        body_.setDevicePixelRatio(ratio);
        body_.fill(Qt::transparent);
        QPainter painter(&body_);
        DrawCentred(painter, slit_);
        DrawCentred(painter, knob_);
        DrawCentred(painter, face_);
    }
    imagesLoaded_ = true;
    imageRatio_ = ratio;
    cacheValid_ = false;
}

bool CDialCtrl::EnsureCache() {
    LoadImages();
    const qreal ratio = devicePixelRatioF();
    const int side = static_cast<int>(std::ceil(kBoxSize * ratio));
    if (cacheValid_ && cache_.width() == side && cache_.devicePixelRatio() == ratio)
        return false;
    if (cache_.width() != side)
        cache_ = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    cache_.setDevicePixelRatio(ratio);
    QPainter painter(&cache_);
    DrawItem(painter);
    cacheValid_ = true;
    return true;
}

void CDialCtrl::Compose(QPainter& painter, const QPainterPath* clip) const {
    // Clips stay aliased (no antialiasing hint), so every pixel is either recomposed whole or left alone; a
    // partial recomposition equals a full draw but for the last bit or two of the turned marks image's edges,
    // which the painter samples from a different starting point under a different clip.
    painter.save();
    if (clip != nullptr)
        painter.setClipPath(*clip);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(kBox, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    DrawCentred(painter, glowOff_);
    painter.save();
    const QImage& lit = muting_ ? glowMuting_ : glowOn_;
    const Qt::ClipOperation operation = clip != nullptr ? Qt::IntersectClip : Qt::ReplaceClip;
    // Fully lit up to where the fade begins, half of it before the position and half after (never before
    // the scale's start).
    const double fadeStart = std::max(0.0, position_ - kGlowFadeDegrees / 2);
    const double fadeEnd =
        position_ > 0 ? std::min<double>(kMaxPosition, position_ + kGlowFadeDegrees / 2) : 0.0;
    if (fadeStart > 0) {
        painter.setClipPath(Pie(kBox, kScaleStart, fadeStart), operation);
        DrawCentred(painter, lit);
    }
    const double step = (fadeEnd - fadeStart) / kGlowFadeSteps;
    for (int i = 0; step > 0 && i < kGlowFadeSteps; ++i) {
        if (clip != nullptr) {
            painter.restore();
            painter.save();
        }
        painter.setClipPath(Pie(kBox, kScaleStart + fadeStart + i * step, step), operation);
        painter.setOpacity(1.0 - (i + 0.5) / kGlowFadeSteps);
        DrawCentred(painter, lit);
    }
    painter.restore();

    if (!body_.isNull())
        painter.drawImage(QPointF(0, 0), body_); // slit, knob and face
    if (!marks_.isNull()) {
        // Turns the (square) marks image about its own centre, which stays at the centre of its unturned
        // place: the image's corner is moved to where the turned corner must lie, then turned by the
        // position.
        const QSizeF size = LogicalSize(marks_);
        const double w = size.width();
        const double h = size.height();
        const double left = std::trunc((kBoxSize - w) * 0.5);
        const double top = std::trunc((kBoxSize - h) * 0.5);
        const double r = (w / 2) / std::cos(kQuarterPi);
        const double theta = (position_ + 45) * kRadiansPerDegree;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.translate(left + w / 2 - r * std::cos(theta), top - (r * std::sin(theta) - h / 2));
        painter.rotate(position_);
        painter.drawImage(QRectF(0, 0, w, h), marks_);
        painter.resetTransform();
    }
    painter.restore();
}

void CDialCtrl::DrawItem(QPainter& painter) {
    LoadImages();
    centreX_ = kCentre;
    centreY_ = kCentre;
    Compose(painter, nullptr);
}

void CDialCtrl::RedrawWhole() {
    if (!EnsureCache()) {
        QPainter painter(&cache_);
        DrawItem(painter);
    }
    update();
}

void CDialCtrl::MoveTo(int position, bool quiet) {
    position = std::clamp(position, 0, kMaxPosition);
    const int old = position_;
    position_ = position;
    centreX_ = kCentre;
    centreY_ = kCentre;
    if (old != position && cacheValid_) {
        LoadImages();
        if (!EnsureCache()) {
            // Everything that changes lies in the wedge from the old to the new position, widened on both
            // sides by what the marks image covers, plus a small disc at the centre.
            const double start = kScaleStart + std::min(old, position) - marksHalfWedge_;
            const double sweep = std::abs(position - old) + 2 * marksHalfWedge_;
            QPainter painter(&cache_);
            if (sweep >= 360.0) {
                DrawItem(painter);
            } else {
                const QPointF centre = kBox.center();
                const QRectF wide(centre.x() - kBoxSize, centre.y() - kBoxSize, 2 * kBoxSize, 2 * kBoxSize);
                QPainterPath region = Pie(wide, start, sweep);
                region.addEllipse(centre, 5, 5);
                region.setFillRule(Qt::WindingFill);
                Compose(painter, &region);
            }
        }
        update();
    } else if (old != position) {
        update();
    }
    if (!quiet)
        Notify();
}

void CDialCtrl::StartAnimation() {
    timer_.start(kTimerPeriodMs, this);
    tickCount_ = 0;
}

void CDialCtrl::OnTimer(int timerId) {
    if (timerId != kTimerId)
        return;
    if (dragging_ && !watch_.PressStillHeld()) {
        CancelDrag();
        return;
    }
    ++tickCount_;
    bool quiet = true;
    if (tickCount_ >= 5) {
        tickCount_ = 0;
        quiet = false;
    }
    int position = position_;
    if (position < target_) {
        position = std::min(position + (dragging_ ? 8 : 4), target_);
    } else if (position > target_) {
        position = std::max(position - 8, target_);
    }
    if (position == target_) {
        timer_.stop();
        quiet = false;
    }
    if (muting_) {
        muting_ = false;
        RedrawWhole();
    }
    MoveTo(position, quiet);
}

void CDialCtrl::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_.timerId()) {
        OnTimer(kTimerId);
        return;
    }
    QWidget::timerEvent(event);
}

void CDialCtrl::paintEvent(QPaintEvent* event) {
    EnsureCache();
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawImage(QPointF(0, 0), cache_);
}

void CDialCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPointF point = event->position();
        if (OnRing(point.x(), point.y())) {
            const double angle = PointerAngle(point.x(), point.y());
            if (std::fabs(angle - lastAngle_) < grabTolerance_) {
                dragging_ = true;
                if (QWidget::mouseGrabber() != this)
                    grabMouse();
                watch_.Start();
            }
            setFocus(Qt::MouseFocusReason);
        }
    }
    // The press is the dial's, on the ring or off it: the window behind must not take it as its own.
    event->accept();
}

void CDialCtrl::CancelDrag() {
    watch_.Stop();
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
    if (!dragging_)
        return;
    dragging_ = false;
    timer_.stop();
    target_ = position_;
    tickCount_ = 0;
    Notify();
}

void CDialCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        const QPointF point = event->position();
        lastAngle_ = PointerAngle(point.x(), point.y());
        target_ = PositionForAngle(lastAngle_, position_);
        // An animation already under way heads for the new target; otherwise one starts.
        if (!timer_.isActive())
            StartAnimation();
    }
    event->accept();
}

void CDialCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        watch_.Stop();
        if (QWidget::mouseGrabber() == this)
            releaseMouse();
        const QPointF point = event->position();
        lastAngle_ = PointerAngle(point.x(), point.y());
        target_ = PositionForAngle(lastAngle_, position_);
        StartAnimation();
    }
    event->accept();
}
