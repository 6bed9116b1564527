// The start-up notice: a dialog on the skinned frame of bitmaps 317 to 322 with the information icon
// (control 5011), the notice text, a check box (5010) that stores NoDispNext in the user's settings the
// moment it is clicked (1 ticked, 0 not), a help button (5003) that opens the help page, Continue (IDOK)
// and Quit (IDCANCEL). Its modal loop ends with IDOK or IDCANCEL; the caller quits on IDCANCEL. UI thread
// only.
#pragma once

#include <QDialog>
#include <QImage>

#include <array>
#include <functional>

class QCheckBox;

class StartupNotice : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdIcon = 5011;
    static constexpr int kIdDontShow = 5010;
    static constexpr int kIdHelp = 5003;

    explicit StartupNotice(QWidget* parent = nullptr);
    ~StartupNotice() override;

    // What the help button runs; ShowHelpFile by default.
    void SetHelpRunner(std::function<void()> runner) { helpRunner_ = std::move(runner); }

    void accept() override; // ends with IDOK
    void reject() override; // ends with IDCANCEL

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnInitDialog();
    void OnDontShowClicked(bool ticked);
    // Draws one frame piece into target from the top `sourceHeight` logical pixels of the bitmap.
    void DrawPiece(QPainter& painter, int piece, const QRectF& target, qreal sourceHeight) const;

    // Bitmaps 317..322 in order, and their logical sizes.
    std::array<QImage, 6> frame_;
    qreal w318_ = 0, w319_ = 0, w321_ = 0, w322_ = 0, h317_ = 0, h320_ = 0;
    QCheckBox* dontShow_ = nullptr;
    std::function<void()> helpRunner_;
};

// Whether the notice is to be shown at start: NoDispNext read from the user's settings, or the machine's
// when the user has none, is missing or 0.
bool StartupNoticeWanted();

// The start-up step: shows the notice modally when it is wanted. False when the listener chose Quit
// (the program then ends), true otherwise.
bool RunStartupNotice(QWidget* parent = nullptr);
