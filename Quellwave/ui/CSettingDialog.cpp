#include "CSettingDialog.h"

#include "AboutBox.h"
#include "CFolderBrowserDialog.h"
#include "DialogSupport.h"
#include "shell/CRegistrySection.h"
#include "shell/FolderChooser.h"
#include "shell/ResourceIds.h"
#include "shell/Settings.h"

#include "Platform/DriveTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

CRegistrySection NoticeSection() {
    CRegistrySection section;
    section.SetNames(kCompanyName, kProductName, "Settings");
    return section;
}

} // namespace

CSettingDialog::CSettingDialog(QWidget* parent, FolderBrowser* browser) : QDialog(parent), browser_(browser) {
    setObjectName(QStringLiteral("CSettingDialog"));
    ui::StyleDialog(this);
    setWindowTitle(ui::Text(resid::kStrSettingsCaption));

    driveList_ = new QComboBox(this);
    ui::SetControlId(driveList_, kIdDriveList);
    folder_ = new QLineEdit(this);
    ui::SetControlId(folder_, kIdFolder);
    auto* browse = ui::MakeButton(this, kIdBrowse, ui::Text(resid::kStrSettingsBrowse));
    auto* about = ui::MakeButton(this, kIdAbout, ui::Text(resid::kStrSettingsAbout));
    showNotice_ = ui::MakeCheckBox(this, kIdShowNotice, ui::Text(resid::kStrSettingsShowNotice));
    gapless_ = ui::MakeCheckBox(this, kIdGapless, ui::Text(resid::kStrSettingsGapless));
    showTitles_ = ui::MakeCheckBox(this, kIdShowTitles, ui::Text(resid::kStrSettingsShowTitles));
    dsdRate_ = new QComboBox(this);
    ui::SetControlId(dsdRate_, kIdDsdRate);
    for (int rate : {64, 128, 256, 512})
        dsdRate_->addItem(QStringLiteral("DSD%1").arg(rate), rate);
    auto* ok = ui::MakeButton(this, ui::IDOK, ui::Text(resid::kStrOk));
    ok->setDefault(true);
    auto* cancel = ui::MakeButton(this, ui::IDCANCEL, ui::Text(resid::kStrCancel));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(ui::Text(resid::kStrSettingsDrive), this), 0, 0);
    grid->addWidget(driveList_, 0, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(new QLabel(ui::Text(resid::kStrSettingsFolder), this), 1, 0);
    grid->addWidget(folder_, 1, 1);
    grid->addWidget(browse, 1, 2);
    grid->addWidget(showNotice_, 2, 0, 1, 3);
    grid->addWidget(gapless_, 3, 0, 1, 3);
    grid->addWidget(showTitles_, 4, 0, 1, 3);
    grid->addWidget(new QLabel(ui::Text(resid::kStrSettingsDsdRate), this), 5, 0);
    grid->addWidget(dsdRate_, 5, 1, 1, 2, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    grid->setColumnMinimumWidth(1, ui::DluX(this, 140));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(about);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(ui::DluY(this, 6));
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(browse, &QPushButton::clicked, this, &CSettingDialog::OnBrowse);
    connect(about, &QPushButton::clicked, this, &CSettingDialog::OnAbout);
    connect(ok, &QPushButton::clicked, this, &CSettingDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &CSettingDialog::reject);
    OnInitDialog();
}

CSettingDialog::~CSettingDialog() = default;

void CSettingDialog::OnInitDialog() {
    // The notice is shown unless a non-zero NoDispNext says otherwise (the user's value first, then the
    // machine's, as at start-up).
    DWORD noDispNext = 0;
    showNotice_->setChecked(true);
    if (NoticeSection().ReadDWORDUserThenMachine("NoDispNext", &noDispNext) && noDispNext != 0)
        showNotice_->setChecked(false);
    gapless_->setChecked(ReadGaplessPlayback());
    showTitles_->setChecked(ReadShowTitles());
    dsdRate_->setCurrentIndex(dsdRate_->findData(static_cast<int>(ReadDsdRate())));

    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        if (platform::GetDriveType(letter) == platform::DRIVE_CDROM)
            driveList_->addItem(QStringLiteral("%1:").arg(QChar(letter)), int(letter));
    }
    DWORD drive = 0;
    if (!ReadDrive(&drive))
        driveList_->setCurrentIndex(driveList_->count() > 0 ? 0 : -1);
    else
        driveList_->setCurrentIndex(driveList_->findData(int(drive))); // -1: the drive is gone
    folder_->clear();
}

void CSettingDialog::OnBrowse() {
    QtFolderBrowser ownBrowser(this);
    FolderBrowser& browser = browser_ != nullptr ? *browser_ : ownBrowser;
    // The home folder stands where the first fixed disk's root stood: where a listener's music is.
    std::string folder;
    if (ChooseFolder(browser, &folder, false, QDir::homePath().toStdString(), kBrowseCaption, kBrowseTitle))
        folder_->setText(QString::fromStdString(folder));
}

void CSettingDialog::OnAbout() {
    if (aboutRunner_) {
        aboutRunner_();
        return;
    }
    AboutBox about(nullptr);
    about.exec();
}

void CSettingDialog::accept() {
    const QString folder = folder_->text();
    if (!folder.isEmpty())
        WriteFolder(folder.toStdString());
    if (driveList_->currentIndex() >= 0)
        WriteDrive(static_cast<DWORD>(driveList_->currentData().toInt()));
    const DWORD noDispNext = showNotice_->isChecked() ? 0 : 1;
    NoticeSection().WriteDWORD("NoDispNext", &noDispNext, false);
    WriteGaplessPlayback(gapless_->isChecked());
    WriteShowTitles(showTitles_->isChecked());
    WriteDsdRate(static_cast<DWORD>(dsdRate_->currentData().toInt()));
    done(ui::IDOK);
}

void CSettingDialog::reject() {
    done(ui::IDCANCEL);
}
