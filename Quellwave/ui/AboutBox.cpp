#include "AboutBox.h"

#include "DialogSupport.h"
#include "ImageSource.h"
#include "shell/ResourceIds.h"
#include "shell/ResourceModules.h"

#include "Platform/Paths.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The about box's fixed size in dialog units.
constexpr int kWidthDlu = 230, kHeightDlu = 150;
// The title in the display's amber, the copyright in the labels' grey.
const QColor kTitleColour(0xFF, 0xB2, 0x3F);
const QColor kCopyrightColour(0x8A, 0x8F, 0x96);

QPixmap BitmapFor(const QWidget* widget, unsigned id) {
    const QImage image = ResourceBitmap(id, ui::ScaleForPixelRatio(widget->devicePixelRatioF()));
    return QPixmap::fromImage(image);
}

} // namespace

AboutBox::AboutBox(QWidget* parent, std::filesystem::path programFolder) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(ui::Text(resid::kStrAboutCaption));
    // The panel's look, the statics included (they draw no background of their own).
    ui::StyleDialog(this);
    setAutoFillBackground(true);
    titleFont_ = font();
    titleFont_.setPixelSize(font().pixelSize() * 4 / 3);
    OnInitDialog(programFolder.empty() ? platform::ProgramDataDir() : programFolder);
}

AboutBox::~AboutBox() = default;

QString AboutBox::FirstLine(const std::filesystem::path& file) {
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QByteArray line = in.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

void AboutBox::OnInitDialog(const std::filesystem::path& programFolder) {
    const int width = ui::DluX(this, kWidthDlu), height = ui::DluY(this, kHeightDlu);
    setFixedSize(width, height);

    auto* icon = ui::MakeStatic(this, kIdIcon);
    icon->setGeometry(ui::DluX(this, 7), ui::DluY(this, 7), 48, 48);
    icon->setPixmap(ResourceIcon(kIconProgram).pixmap(48, 48, QIcon::Normal));

    const QString version = FirstLine(programFolder / "Version.txt");
    auto* versionLine = ui::MakeStatic(this, kIdVersion, ui::Text(resid::kStrVersionPrefix) + u' ' + version);
    const int textLeft = ui::DluX(this, 7) + 48 + ui::DluX(this, 7);
    versionLine->setGeometry(textLeft, ui::DluY(this, 24), width - textLeft - ui::DluX(this, 7),
                             ui::DluY(this, 10));
    auto* copyright = new QLabel(ui::Text(resid::kStrAboutCopyright), this);
    copyright->setGeometry(versionLine->geometry().translated(0, ui::DluY(this, 10)));
    QPalette grey = copyright->palette();
    grey.setColor(QPalette::WindowText, kCopyrightColour);
    copyright->setPalette(grey);

    // The picture panel, below the version line and across the box.
    auto* pictures = new QWidget(this);
    ui::SetControlId(pictures, kIdPictures);
    pictures->setAutoFillBackground(true);
    pictures->setPalette(palette());
    const int top = versionLine->y() + ui::DluY(this, 24);
    pictures->setGeometry(ui::DluX(this, 7), top, width - 2 * ui::DluX(this, 7), height - ui::DluY(this, 65));
    auto* picture1 = ui::MakeStatic(pictures, kIdPicture1);
    picture1->setPixmap(BitmapFor(this, resid::kAboutPicture1));
    auto* picture2 = ui::MakeStatic(pictures, kIdPicture2);
    picture2->setPixmap(BitmapFor(this, resid::kAboutPicture2));
    auto* column = new QVBoxLayout(pictures);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(picture1, 0, Qt::AlignHCenter);
    column->addWidget(picture2, 0, Qt::AlignHCenter);
    column->addStretch(1);
    pictures->show();
    pictures->raise();

    auto* ok = ui::MakeButton(this, ui::IDOK, ui::Text(resid::kStrOk));
    ok->setDefault(true);
    ok->adjustSize();
    ok->move(width - ok->width() - ui::DluX(this, 7), height - ok->height() - ui::DluY(this, 7));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    titleRect_ = QRect(versionLine->x(), versionLine->y() - ui::DluY(this, 12), ui::DluX(this, 200),
                       ui::DluY(this, 11));
}

void AboutBox::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setFont(titleFont_);
    painter.setPen(kTitleColour);
    painter.drawText(titleRect_, Qt::AlignLeft | Qt::AlignBottom | Qt::TextDontClip,
                     ui::Text(resid::kStrAboutTitle));
}
