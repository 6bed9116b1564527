#include "ControlNotify.h"

#include <QVariant>
#include <QWidget>

namespace ui {

namespace {
constexpr const char* kControlIdProperty = "controlId";
}

void SetControlId(QWidget* control, int id) {
    control->setProperty(kControlIdProperty, id);
}

int ControlId(const QWidget* control) noexcept {
    if (control == nullptr)
        return 0;
    return control->property(kControlIdProperty).toInt();
}

QWidget* FindControl(const QWidget* parent, int id) {
    if (parent == nullptr)
        return nullptr;
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget == nullptr)
            continue;
        if (ControlId(widget) == id)
            return widget;
        if (QWidget* found = FindControl(widget, id))
            return found;
    }
    return nullptr;
}

bool NotifyParent(const QWidget* control, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* target = dynamic_cast<platform::MessageTarget*>(control->parentWidget());
    if (target == nullptr)
        return false;
    return target->post(msg, wParam, lParam);
}

} // namespace ui
