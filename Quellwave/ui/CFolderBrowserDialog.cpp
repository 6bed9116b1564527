#include "CFolderBrowserDialog.h"

#include "DialogSupport.h"
#include "shell/ResourceIds.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

CFolderBrowserDialog::CFolderBrowserDialog(const FolderBrowser::Request& request, QWidget* parent)
    : QDialog(parent), request_(request) {
    setObjectName(QStringLiteral("CFolderBrowserDialog"));
    ui::StyleDialog(this);
    setWindowTitle(QString::fromStdString(request_.caption));

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setReadOnly(!request_.allowNewFolder);
    model_->setRootPath(QDir::rootPath());

    tree_ = new QTreeView(this);
    ui::SetControlId(tree_, kIdTree);
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);
    tree_->header()->hide();
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* title = ui::MakeStatic(this, 0, QString::fromStdString(request_.title));
    title->setWordWrap(true);
    ok_ = ui::MakeButton(this, ui::IDOK, ui::Text(resid::kStrOk));
    ok_->setDefault(true);
    auto* cancel = ui::MakeButton(this, ui::IDCANCEL, ui::Text(resid::kStrCancel));
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    if (request_.allowNewFolder) {
        auto* make = ui::MakeButton(this, kIdNewFolder, tr("New folder"));
        connect(make, &QPushButton::clicked, this, &CFolderBrowserDialog::OnNewFolder);
        buttons->addWidget(make);
    }
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);
    resize(420, 460);

    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CFolderBrowserDialog::OnSelectionChanged);
    if (request_.initialFolder.empty() || !SelectFolder(QString::fromStdString(request_.initialFolder)))
        OnSelectionChanged();
}

CFolderBrowserDialog::~CFolderBrowserDialog() = default;

QString CFolderBrowserDialog::SelectedFolder() const {
    const QModelIndex current = tree_->currentIndex();
    return current.isValid() ? model_->filePath(current) : QString();
}

bool CFolderBrowserDialog::SelectFolder(const QString& path) {
    const QModelIndex index = model_->index(QDir::cleanPath(QDir(path).absolutePath()));
    if (!index.isValid() || !model_->isDir(index))
        return false;
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
    OnSelectionChanged(); // also when the same folder was selected already
    return true;
}

void CFolderBrowserDialog::OnSelectionChanged() {
    const QString folder = SelectedFolder();
    ok_->setEnabled(!folder.isEmpty() && request_.canChoose && request_.canChoose(folder.toStdString()));
}

void CFolderBrowserDialog::accept() {
    if (ok_->isEnabled())
        QDialog::accept();
}

void CFolderBrowserDialog::OnNewFolder() {
    const QModelIndex current = tree_->currentIndex();
    if (!current.isValid())
        return;
    const QString base = tr("New folder");
    QString name = base;
    for (int n = 2; QDir(model_->filePath(current)).exists(name); ++n)
        name = base + QStringLiteral(" (%1)").arg(n);
    const QModelIndex made = model_->mkdir(current, name);
    if (made.isValid()) {
        tree_->setCurrentIndex(made);
        tree_->edit(made);
    }
}

std::optional<std::string> QtFolderBrowser::Browse(const Request& request) {
    CFolderBrowserDialog dialog(request, parent_);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString folder = dialog.SelectedFolder();
    if (folder.isEmpty())
        return std::nullopt;
    return folder.toStdString();
}
