#include "StartupNotice.h"

#include "DialogSupport.h"
#include "HelpFile.h"
#include "ImageSource.h"
#include "shell/CRegistrySection.h"
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"
#include "shell/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Text on the notice: red 0xC0, green 0xBB, blue 0xAC.
const QColor kNoticeText(0xC0, 0xBB, 0xAC);
constexpr int kWidth = 500, kHeight = 270;
// The strip each row above the middle one takes from the top of its bitmaps.
constexpr qreal kUpperRowHeight = 3;

enum Piece { kBottom, kBottomLeft, kBottomRight, kMiddle, kLeft, kRight };

CRegistrySection NoticeSection() {
    CRegistrySection section;
    section.SetNames(kCompanyName, kProductName, "Settings");
    return section;
}

} // namespace

StartupNotice::StartupNotice(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("StartupNotice"));
    ui::StyleDialog(this);
    setWindowTitle(ui::Text(resid::kStrNoticeCaption));
    setWindowIcon(ResourceIcon(kIconProgram));
    helpRunner_ = ShowHelpFile;

    QPalette text = palette();
    text.setColor(QPalette::WindowText, kNoticeText);
    text.setColor(QPalette::Text, kNoticeText);

    auto* icon = ui::MakeStatic(this, kIdIcon);
    icon->setPixmap(
        ui::NoticeIcon(ui::NoticeGlyph::kInformation, ui::kDialogFontPx * 2, devicePixelRatioF()));
    auto* body = ui::MakeStatic(this, 0, ui::Text(resid::kStrNoticeBody));
    body->setWordWrap(true);
    body->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    body->setPalette(text);
    dontShow_ = ui::MakeCheckBox(this, kIdDontShow, ui::Text(resid::kStrNoticeDontShow));
    dontShow_->setPalette(text);
    auto* help = ui::MakeButton(this, kIdHelp, ui::Text(resid::kStrNoticeHelp));
    auto* ok = ui::MakeButton(this, ui::IDOK, ui::Text(resid::kStrNoticeContinue));
    ok->setDefault(true);
    auto* quit = ui::MakeButton(this, ui::IDCANCEL, ui::Text(resid::kStrNoticeQuit));

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addWidget(body, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(quit);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 8);
    layout->addLayout(top, 1);
    layout->addWidget(dontShow_);
    layout->addSpacing(18);
    layout->addLayout(buttons);
    // The notice's size grows with its type (set for a sofa's distance), never below its frame's.
    const int width = std::max(kWidth, kWidth * ui::kDialogFontPx / 12);
    const int height =
        layout->hasHeightForWidth() ? layout->heightForWidth(width) : layout->sizeHint().height();
    setFixedSize(width, std::max(kHeight, height));

    connect(dontShow_, &QCheckBox::clicked, this, &StartupNotice::OnDontShowClicked);
    connect(help, &QPushButton::clicked, this, [this] {
        if (helpRunner_)
            helpRunner_();
    });
    connect(ok, &QPushButton::clicked, this, &StartupNotice::accept);
    connect(quit, &QPushButton::clicked, this, &StartupNotice::reject);
    OnInitDialog();
}

StartupNotice::~StartupNotice() = default;

void StartupNotice::OnInitDialog() {
    const int scale = ui::ScaleForPixelRatio(devicePixelRatioF());
    for (int piece = 0; piece < 6; ++piece)
        frame_[piece] = ResourceBitmap(resid::kNoticeBottom + piece, scale);
    auto width = [this](int piece) { return frame_[piece].deviceIndependentSize().width(); };
    auto height = [this](int piece) { return frame_[piece].deviceIndependentSize().height(); };
    w319_ = width(kBottomRight);
    w318_ = width(kBottomLeft);
    w322_ = width(kRight);
    w321_ = width(kLeft);
    h317_ = height(kBottom);
    h320_ = height(kMiddle);
}

void StartupNotice::OnDontShowClicked(bool ticked) {
    const DWORD value = ticked ? 1 : 0;
    NoticeSection().WriteDWORD("NoDispNext", &value, false);
}

void StartupNotice::accept() {
    done(ui::IDOK);
}

void StartupNotice::reject() {
    done(ui::IDCANCEL);
}

void StartupNotice::DrawPiece(QPainter& painter, int piece, const QRectF& target, qreal sourceHeight) const {
    const QImage& image = frame_[piece];
    if (image.isNull())
        return;
    const qreal ratio = image.devicePixelRatio();
    painter.drawImage(target, image, QRectF(0, 0, image.width(), sourceHeight * ratio));
}

void StartupNotice::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The frame's pieces are stretched, and come from a whole scale's artwork on a screen scaled by 1.4.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal w = width(), bottom = height();
    // Each row: its left piece, the one-pixel-wide middle piece stretched over the gap (the same as
    // repeating it column by column), and its right piece.
    auto row = [&](int left, int middle, int right, qreal leftW, qreal rightW, qreal y, qreal h,
                   qreal source) {
        DrawPiece(painter, left, QRectF(0, y, leftW, h), source);
        DrawPiece(painter, middle, QRectF(leftW, y, w - rightW - leftW, h), source);
        DrawPiece(painter, right, QRectF(w - rightW, y, rightW, h), source);
    };
    row(kBottomLeft, kBottom, kBottomRight, w318_, w319_, bottom - h317_, h317_, h317_);
    const qreal middleTop = bottom - h317_ - h320_;
    row(kLeft, kMiddle, kRight, w321_, w322_, middleTop, h320_, h320_);
    for (qreal y = middleTop - kUpperRowHeight; y > -kUpperRowHeight; y -= kUpperRowHeight)
        row(kLeft, kMiddle, kRight, w321_, w322_, y, kUpperRowHeight, kUpperRowHeight);
    // Edged like the other dialogs: the bevel's light line round it and the amber rule along its top.
    painter.setPen(QPen(QColor(0x3A, 0x3D, 0x42), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(1, 1, w - 2, bottom - 2));
    painter.fillRect(QRectF(0, 0, w, 3), QColor(0xB0, 0x7A, 0x2A));
}

bool StartupNoticeWanted() {
    DWORD noDispNext = 0;
    return !NoticeSection().ReadDWORDUserThenMachine("NoDispNext", &noDispNext) || noDispNext == 0;
}

bool RunStartupNotice(QWidget* parent) {
    if (!StartupNoticeWanted())
        return true;
    StartupNotice notice(parent);
    return notice.exec() != ui::IDCANCEL;
}
