#include "HelpViewer.h"

#include "ControlNotify.h"
#include "DialogSupport.h"
#include "shell/ResourceIds.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The one viewer open at a time.
QPointer<HelpViewer> g_viewer;

// Share of the window (or screen) the viewer covers.
constexpr double kWidthShare = 0.8, kHeightShare = 0.85;

} // namespace

HelpViewer::HelpViewer(QWidget* parent, const std::filesystem::path& page) : QDialog(parent) {
    setObjectName(QStringLiteral("HelpViewer"));
    ui::StyleDialog(this);
    setWindowTitle(ui::Text(resid::kStrHelpCaption));
    text_ = new QTextBrowser(this);
    ui::SetControlId(text_, kIdText);
    text_->setOpenExternalLinks(true);
    auto* close = ui::MakeButton(this, kIdClose, ui::Text(resid::kStrHelpClose));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 14);
    layout->addWidget(text_, 1);
    layout->addSpacing(10);
    layout->addLayout(buttons);

    const QRect area = Area();
    resize(static_cast<int>(area.width() * kWidthShare), static_cast<int>(area.height() * kHeightShare));
    Load(page);
    text_->setFocus();
}

void HelpViewer::Load(const std::filesystem::path& page) {
    QFile file(QString::fromStdString(page.string()));
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    pageShown_ = !bytes.isEmpty();
    if (!pageShown_) {
        text_->setPlainText(ui::Text(resid::kStrHelpMissing).arg(QString::fromStdString(page.string())));
        return;
    }
    // The page sets its own type size for a desk's distance; a rule after its own sets the dialogs' size,
    // and the page's pictures and links resolve beside it.
    QString html = QString::fromUtf8(bytes);
    const QString sized = QStringLiteral("<style>body { font-size: %1px; }</style>").arg(font().pixelSize());
    const qsizetype head = html.indexOf(QStringLiteral("</head>"), 0, Qt::CaseInsensitive);
    html.insert(head >= 0 ? head : 0, sized);
    text_->setSearchPaths({QString::fromStdString(page.parent_path().string())});
    text_->setHtml(html);
}

QRect HelpViewer::Area() const {
    if (parentWidget() != nullptr)
        return parentWidget()->window()->frameGeometry();
    return screen() != nullptr ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
}

void HelpViewer::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred, frame and all, over the window it belongs to (on the screen when on its own), once the
    // frame is known.
    QRect frame = frameGeometry();
    frame.moveCenter(Area().center());
    move(frame.topLeft());
}

HelpViewer* HelpViewer::ShowPage(const std::filesystem::path& page) {
    if (g_viewer) {
        g_viewer->Load(page);
    } else {
        g_viewer = new HelpViewer(QApplication::activeWindow(), page);
        g_viewer->setAttribute(Qt::WA_DeleteOnClose);
    }
    g_viewer->show();
    g_viewer->raise();
    g_viewer->activateWindow();
    return g_viewer;
}
