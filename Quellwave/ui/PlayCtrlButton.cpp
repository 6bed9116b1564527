#include "PlayCtrlButton.h"

#include "ControlNotify.h"
#include "InputState.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

#include <utility>

PlayCtrlButton::PlayCtrlButton(int controlId, QWidget* parent, ui::BitmapLoader loader)
    : QPushButton(parent), loader_(loader ? std::move(loader) : ui::DefaultBitmapLoader()) {
    ui::SetControlId(this, controlId);
    setMouseTracking(true);
    // Enter in the window is a transport key, never a click on whichever button is the default.
    setAutoDefault(false);
    connect(this, &QAbstractButton::clicked, this, [this] { OnClicked(); });
    // The space bar held anywhere in the program keeps the hover look when the mouse leaves (the window's
    // buttons never take the focus, so their own key events would never tell).
    ui::WatchKeyboard();
}

PlayCtrlButton::~PlayCtrlButton() = default;

bool PlayCtrlButton::MakeOwnerDraw() {
    ownerDraw_ = true;
    setFlat(true);
    update();
    return true;
}

bool PlayCtrlButton::LoadBitmaps(unsigned normal, unsigned pressed, unsigned focused, unsigned disabled,
                                 unsigned hovered, unsigned hoveredFocused) {
    const std::array<unsigned, 6> ids{normal, pressed, focused, disabled, hovered, hoveredFocused};
    const int scale = ui::ScaleForPixelRatio(devicePixelRatioF());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] == 0)
            return false;
        QImage bitmap = loader_(ids[i], scale);
        if (bitmap.isNull())
            return false;
        bitmaps_[i] = ui::AtPixelRatio(ui::KeyedImage(bitmap), devicePixelRatioF());
    }
    resize(bitmaps_[kNormal].deviceIndependentSize().toSize());
    return true;
}

PlayCtrlButton::Picture PlayCtrlButton::PictureFor(bool disabled, bool pressed, bool focused,
                                                   bool hovered) noexcept {
    if (disabled)
        return kDisabled;
    if (pressed)
        return kPressed;
    if (hovered)
        return focused ? kHoveredFocused : kHovered;
    return focused ? kFocused : kNormal;
}

PlayCtrlButton::Picture PlayCtrlButton::CurrentPicture() const noexcept {
    return PictureFor(!isEnabled(), isDown(), hasFocus(), hover_);
}

void PlayCtrlButton::paintEvent(QPaintEvent* event) {
    if (!ownerDraw_) {
        QPushButton::paintEvent(event);
        return;
    }
    const QImage& bitmap = bitmaps_[CurrentPicture()];
    if (bitmap.isNull())
        return;
    // The button's rectangle from the same coordinates in the bitmap.
    QPainter painter(this);
    const QSizeF size = bitmap.deviceIndependentSize();
    const QRectF target(QPointF(0, 0), QSizeF(std::min<qreal>(width(), size.width()),
                                              std::min<qreal>(height(), size.height())));
    const qreal ratio = bitmap.devicePixelRatio();
    painter.drawImage(target, bitmap, QRectF(QPointF(0, 0), target.size() * ratio));
}

void PlayCtrlButton::mouseMoveEvent(QMouseEvent* event) {
    const bool inside = rect().contains(event->position().toPoint());
    if (inside && !hover_) {
        hover_ = true;
        update();
    } else if (!inside && hover_ && !ui::KeyDown(Qt::Key_Space)) {
        hover_ = false;
        update();
    }
    QPushButton::mouseMoveEvent(event);
}

void PlayCtrlButton::leaveEvent(QEvent*) {
    hover_ = false;
    update();
}

void PlayCtrlButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click is a second press.
    QMouseEvent press(QEvent::MouseButtonPress, event->position(), event->scenePosition(),
                      event->globalPosition(), event->button(), event->buttons(), event->modifiers());
    mousePressEvent(&press);
}

void PlayCtrlButton::OnClicked() {
    ui::NotifyParent(this, WM_COMMAND,
                     ui::MAKEWPARAM(static_cast<WORD>(ui::ControlId(this)), ui::BN_CLICKED), 0);
}
