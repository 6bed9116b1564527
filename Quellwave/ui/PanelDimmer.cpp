#include "PanelDimmer.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace ui {

namespace {

class Shade final : public QWidget {
public:
    explicit Shade(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), QColor(0, 0, 0, PanelDimmer::kShadeAlpha));
    }
};

} // namespace

PanelDimmer::PanelDimmer(QWidget* window) : QObject(window), window_(window), shade_(new Shade(window)) {
    qApp->installEventFilter(this);
}

PanelDimmer::~PanelDimmer() {
    qApp->removeEventFilter(this);
}

bool PanelDimmer::Dimmed() const {
    return shade_->isVisible();
}

bool PanelDimmer::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::Show && type != QEvent::Hide && type != QEvent::Resize)
        return false;
    if (watched == window_) {
        if (type == QEvent::Resize)
            shade_->setGeometry(window_->rect());
        return false;
    }
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (dialog == nullptr || !dialog->isWindow() || type == QEvent::Resize)
        return false;
    std::erase_if(open_, [dialog](const QPointer<QWidget>& open) { return open.isNull() || open == dialog; });
    if (type == QEvent::Show) {
        open_.emplace_back(dialog);
        connect(dialog, &QObject::destroyed, this, &PanelDimmer::Update, Qt::UniqueConnection);
    }
    Update();
    return false;
}

void PanelDimmer::Update() {
    // A dialog destroyed without being hidden leaves a null pointer behind; it no longer counts.
    std::erase_if(open_, [](const QPointer<QWidget>& open) { return open.isNull(); });
    const bool dim = !open_.empty();
    if (dim == shade_->isVisible())
        return;
    if (dim) {
        shade_->setGeometry(window_->rect());
        shade_->raise();
    }
    shade_->setVisible(dim);
}

} // namespace ui
