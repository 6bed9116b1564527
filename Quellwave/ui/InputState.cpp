#include "InputState.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <set>

namespace ui {

PressWatch::PressWatch(QWidget* control, std::function<void()> lost)
    : QObject(nullptr), control_(control), lost_(std::move(lost)) {}

PressWatch::~PressWatch() {
    Stop();
}

void PressWatch::Start() {
    if (watching_)
        return;
    watching_ = true;
    // The events that take a press away go to the control's window or to other windows, so the whole
    // application is watched, only while a press is held.
    qApp->installEventFilter(this);
}

void PressWatch::Stop() {
    if (!watching_)
        return;
    watching_ = false;
    if (qApp != nullptr)
        qApp->removeEventFilter(this);
}

bool PressWatch::PressStillHeld() const {
    if (QWidget::mouseGrabber() != control_)
        return false;
    const QWidget* modal = QApplication::activeModalWidget();
    return modal == nullptr || modal == control_->window();
}

void PressWatch::Lose() {
    if (!watching_)
        return;
    Stop();
    if (lost_)
        lost_();
}

bool PressWatch::eventFilter(QObject* watched, QEvent* event) {
    const QWidget* window = control_->window();
    switch (event->type()) {
    case QEvent::WindowBlocked:
    case QEvent::WindowDeactivate:
        if (watched == window)
            Lose();
        break;
    case QEvent::Show:
        // A modal window that opens takes the mouse, whether or not the system has moved the activation yet.
        if (auto* shown = qobject_cast<QWidget*>(watched);
            shown != nullptr && shown->isWindow() && shown != window && shown->isModal())
            Lose();
        break;
    case QEvent::Hide:
    case QEvent::EnabledChange:
        if (watched == control_ && (!control_->isVisible() || !control_->isEnabled()))
            Lose();
        break;
    case QEvent::MouseButtonPress:
        // A press anywhere but on the control while it holds one: the grab went elsewhere.
        if (auto* widget = qobject_cast<QWidget*>(watched);
            widget != nullptr && widget != control_ && QWidget::mouseGrabber() != control_)
            Lose();
        break;
    default:
        break;
    }
    return false;
}

namespace {

class KeyboardState : public QObject {
public:
    // One per application object, owned by it.
    static KeyboardState& Instance() {
        static QPointer<KeyboardState> state;
        if (state.isNull())
            state = new KeyboardState;
        return *state;
    }
    bool Down(int key) const { return down_.contains(key); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
            down_.insert(static_cast<QKeyEvent*>(event)->key());
            break;
        case QEvent::KeyRelease: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat())
                down_.erase(key->key());
            break;
        }
        case QEvent::ApplicationDeactivate:
            // The releases now go to another program.
            down_.clear();
            break;
        default:
            break;
        }
        return false;
    }

private:
    KeyboardState() : QObject(qApp) { qApp->installEventFilter(this); }
    std::set<int> down_;
};

} // namespace

void WatchKeyboard() {
    if (qApp != nullptr)
        KeyboardState::Instance();
}

bool KeyDown(int key) {
    if (qApp == nullptr)
        return false;
    return KeyboardState::Instance().Down(key);
}

} // namespace ui
