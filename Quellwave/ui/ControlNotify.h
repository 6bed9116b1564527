// How the controls talk to the window they sit in: every control carries its control id, and it answers its
// parent by posting window messages through the parent's platform::MessageTarget. The player window and the
// tests implement that one interface, so both receive exactly the same messages.
#pragma once

#include "Platform/MessageTarget.h"
#include "Platform/Types.h"
#include "shell/WindowMessages.h"

class QWidget;

namespace ui {

// Notification numbers and codes the controls post with their messages (WM_COMMAND, WM_HSCROLL and
// WM_LONG_PUSH_REPEAT, in shell/WindowMessages.h), with their values on the original platform.
inline constexpr WORD SB_THUMBPOSITION = 4;
inline constexpr WORD BN_CLICKED = 0;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

constexpr WPARAM MAKEWPARAM(WORD low, WORD high) noexcept {
    return static_cast<WPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
constexpr WORD LOWORD(WPARAM value) noexcept {
    return static_cast<WORD>(value & 0xFFFF);
}
constexpr WORD HIWORD(WPARAM value) noexcept {
    return static_cast<WORD>((value >> 16) & 0xFFFF);
}

// The control id is kept as the widget's "controlId" property, so code that only holds a QWidget (the window,
// a test) finds a control by its id. A widget without an id reads 0.
void SetControlId(QWidget* control, int id);
int ControlId(const QWidget* control) noexcept;

// The first descendant of parent (depth first, in child order) whose control id is id, or nullptr.
QWidget* FindControl(const QWidget* parent, int id);
template <class T> T* FindControl(const QWidget* parent, int id) {
    return dynamic_cast<T*>(FindControl(parent, id));
}

// Posts a message to the control's parent window when that parent takes messages (implements
// platform::MessageTarget). Returns false when there is no such parent or the post failed; a control without
// a parent notifies nobody, as a child window without a parent would.
bool NotifyParent(const QWidget* control, UINT msg, WPARAM wParam, LPARAM lParam);

} // namespace ui
