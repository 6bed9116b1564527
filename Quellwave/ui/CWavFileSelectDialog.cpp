#include "CWavFileSelectDialog.h"

#include "DialogSupport.h"
#include "shell/ResourceIds.h"
#include "shell/Settings.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTreeView>

#include <algorithm>

CWavFileSelectDialog::CWavFileSelectDialog(bool open, const QString& defaultExtension,
                                           const QString& fileName, DWORD flags, const QString& filter,
                                           QWidget* parent)
    : QFileDialog(parent) {
    setObjectName(QStringLiteral("CWavFileSelectDialog"));
    ui::StyleDialog(this);
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    if (open)
        setFileMode((flags & OFN_ALLOWMULTISELECT) != 0 ? QFileDialog::ExistingFiles
                                                        : QFileDialog::ExistingFile);
    // OFN_HIDEREADONLY hides the "open as read-only" box, which this dialog never has, so the flag asks for
    // nothing here. (Qt's ReadOnly option would instead forbid new folders, renaming and deleting.)
    setDefaultSuffix(defaultExtension);
    const QStringList filters = NameFilters(filter);
    if (!filters.isEmpty())
        setNameFilters(filters);
    if (!fileName.isEmpty() && !fileName.contains(u'*') && !fileName.contains(u'?'))
        selectFile(fileName);
    OnInitDialog();
}

CWavFileSelectDialog::~CWavFileSelectDialog() = default;

QString CWavFileSelectDialog::PlayListFilter() {
    if (ReadRFMode()) {
        if (QString dsd = ui::Text(resid::kStrDsdFileFilter); !dsd.isEmpty())
            return dsd;
    }
    return ui::Text(resid::kStrFileFilter);
}

QStringList CWavFileSelectDialog::NameFilters(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString text = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            pattern = pattern.trimmed();
        // Qt separates patterns by spaces and finds them inside the last brackets: a pattern holding
        // either cannot be handed on.
        patterns.removeIf([](const QString& pattern) {
            return pattern.isEmpty() || pattern.contains(u'(') || pattern.contains(u')') ||
                   pattern.contains(u' ') || pattern.contains(u'\t');
        });
        if (text.isEmpty() || patterns.isEmpty())
            continue;
        const QString joined = patterns.join(u' ');
        // Qt reads the patterns from the last brackets of the text, so they must be the real ones.
        if (text.endsWith(QStringLiteral("(%1)").arg(joined)))
            out << text;
        else if (text.endsWith(QStringLiteral("(%1)").arg(patterns.join(u';'))))
            out << text.left(text.lastIndexOf(u'(')) + QStringLiteral("(%1)").arg(joined);
        else
            out << QStringLiteral("%1 (%2)").arg(text, joined);
    }
    return out;
}

void CWavFileSelectDialog::OnInitDialog() {
    setWindowTitle(ui::Text(resid::kStrFileDialogTitle));
    // The standard buttons go; the dialog's own pair and the select-all button take their place in a row
    // of their own under the dialog.
    auto* standard = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    auto* grid = qobject_cast<QGridLayout*>(layout());
    if (standard == nullptr || grid == nullptr)
        return;
    standard->hide();
    const QPushButton* standardOk = standard->button(QDialogButtonBox::Open)
                                        ? standard->button(QDialogButtonBox::Open)
                                        : standard->button(QDialogButtonBox::Save);
    auto* selectAll = ui::MakeButton(this, kIdSelectAll, ui::Text(resid::kStrSelectAll));
    auto* ok =
        ui::MakeButton(this, ui::IDOK, standardOk != nullptr ? standardOk->text() : ui::Text(resid::kStrOk));
    ok->setDefault(true);
    auto* cancel = ui::MakeButton(this, ui::IDCANCEL, ui::Text(resid::kStrCancel));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(selectAll);
    row->addWidget(ok);
    row->addWidget(cancel);
    grid->addLayout(row, grid->rowCount(), 0, 1, grid->columnCount());

    // The detail view shows whole names, sizes, kinds and dates: the name takes the room that is left, the
    // other columns as much as their contents need.
    resize(1000, 640);
    // The places beside the files get the room their names need, the files the rest.
    if (auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({fontMetrics().horizontalAdvance(QStringLiteral("Computer")) * 2, 1000});
    if (auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = tree->header();
        header->setStretchLastSection(false);
        header->setMinimumSectionSize(header->fontMetrics().horizontalAdvance(QStringLiteral("0000 MB")));
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    // The file name field lists the selected files in the list's order, whatever order they were clicked in.
    if (auto* list = findChild<QListView*>(QStringLiteral("listView"));
        list != nullptr && list->selectionModel())
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &CWavFileSelectDialog::ListSelectionInOrder, Qt::QueuedConnection);

    // The tool buttons' marks and the file-name suggestions in the program's look, not the desktop's.
    ui::StyleFileDialogParts(this);

    connect(selectAll, &QPushButton::clicked, this, &CWavFileSelectDialog::SelectAllFiles);
    connect(ok, &QPushButton::clicked, this, &CWavFileSelectDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CWavFileSelectDialog::reject);
}

void CWavFileSelectDialog::SelectAllFiles() {
    // The view the dialog shows (list or detail); both share one model and one selection.
    QAbstractItemView* view = findChild<QListView*>(QStringLiteral("listView"));
    if (auto* tree = findChild<QTreeView*>(QStringLiteral("treeView")); tree != nullptr && tree->isVisible())
        view = tree;
    if (view == nullptr || view->model() == nullptr || view->selectionModel() == nullptr)
        return;
    if (fileMode() != QFileDialog::ExistingFiles)
        return; // one file at most: there is nothing to select all of
    QAbstractItemModel* model = view->model();
    const QModelIndex folder = view->rootIndex();
    QItemSelection selection;
    for (int row = 0; row < model->rowCount(folder); ++row) {
        const QModelIndex item = model->index(row, 0, folder);
        // Files the filter does not take are hidden, or shown disabled where the dialog greys them out.
        if (!(model->flags(item) & Qt::ItemIsEnabled))
            continue;
        const QFileInfo info(model->data(item, QFileSystemModel::FilePathRole).toString());
        if (!info.isFile())
            continue;
        selection.select(item, item);
    }
    // The focus goes to the files first: the file name field shows the selected names only while it does
    // not have the focus itself.
    view->setFocus();
    view->selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void CWavFileSelectDialog::ListSelectionInOrder() {
    auto* list = findChild<QListView*>(QStringLiteral("listView"));
    auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (list == nullptr || name == nullptr || list->selectionModel() == nullptr || name->hasFocus())
        return;
    QModelIndexList rows = list->selectionModel()->selectedRows();
    if (rows.size() < 2)
        return;
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList names;
    for (const QModelIndex& row : rows) {
        if (!(list->model()->flags(row) & Qt::ItemIsEnabled))
            continue;
        const QFileInfo info(list->model()->data(row, QFileSystemModel::FilePathRole).toString());
        if (info.isFile())
            names << QStringLiteral("\"%1\"").arg(info.fileName());
    }
    const QString text = names.join(u' ');
    if (!names.isEmpty() && name->text() != text) {
        // Set quietly: the dialog would otherwise select again by the text.
        const QSignalBlocker quiet(name);
        name->setText(text);
    }
}

std::vector<std::string> CWavFileSelectDialog::SelectedPaths() const {
    std::vector<std::string> paths;
    if (result() != ui::IDOK)
        return paths;
    for (const QString& file : selectedFiles())
        paths.push_back(file.toStdString());
    return paths;
}

void CWavFileSelectDialog::accept() {
    QFileDialog::accept();
}

void CWavFileSelectDialog::reject() {
    QFileDialog::done(ui::IDCANCEL);
}
