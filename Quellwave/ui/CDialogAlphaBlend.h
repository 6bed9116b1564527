// Darkens the whole screen behind a modal dialog: a black, frameless tool window shown maximised at opacity
// 180/255 that runs the inner dialog modally on top of itself and closes with the inner dialog's result.
// Made on the caller's stack for one use:
//
//     CSettingDialog settings(...);
//     CDialogAlphaBlend overlay(&settings);
//     const int result = overlay.exec();   // the inner dialog's result
//
// The inner dialog is not owned and must outlive the overlay's exec(). UI thread only.
#pragma once

#include <QDialog>
#include <QPointer>

class CDialogAlphaBlend : public QDialog {
    Q_OBJECT

public:
    static constexpr int kAlpha = 180;

    explicit CDialogAlphaBlend(QDialog* inner, QWidget* parent = nullptr);
    ~CDialogAlphaBlend() override;

    // Shows the overlay, runs the inner dialog's modal loop above it and returns its result. Without an inner
    // dialog the overlay closes at once with QDialog::Rejected.
    int exec() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    void RunInner();

    QPointer<QDialog> inner_;
};
