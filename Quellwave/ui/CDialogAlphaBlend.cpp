#include "CDialogAlphaBlend.h"

#include <QKeyEvent>
#include <QPalette>
#include <QTimer>
#include <QWindow>

CDialogAlphaBlend::CDialogAlphaBlend(QDialog* inner, QWidget* parent) : QDialog(parent), inner_(inner) {
    setObjectName(QStringLiteral("CDialogAlphaBlend"));
    // A tool window without a frame or task-bar entry.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    resize(279, 146); // 186 x 90 dialog units before it is maximised
}

CDialogAlphaBlend::~CDialogAlphaBlend() = default;

void CDialogAlphaBlend::OnInitDialog() {
    // Everything the overlay draws is black.
    QPalette black = palette();
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        black.setColor(role, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setWindowOpacity(kAlpha / 255.0);
    // Maximised when the modal loop shows it (showing it here already would keep it from being modal).
    setWindowState(windowState() | Qt::WindowMaximized);
}

int CDialogAlphaBlend::exec() {
    OnInitDialog();
    // The inner dialog runs from the overlay's own modal loop, once that loop is going.
    QTimer::singleShot(0, this, &CDialogAlphaBlend::RunInner);
    return QDialog::exec();
}

void CDialogAlphaBlend::RunInner() {
    if (inner_ == nullptr) {
        done(QDialog::Rejected);
        return;
    }
    // Above the overlay: the overlay is the inner dialog's transient parent (not its owner, since the caller
    // owns the inner dialog).
    inner_->winId();
    if (QWindow* window = inner_->windowHandle())
        window->setTransientParent(windowHandle());
    const int result = inner_->exec();
    done(result);
}

void CDialogAlphaBlend::keyPressEvent(QKeyEvent* event) {
    // Escape on the overlay itself must not end it apart from the inner dialog.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
