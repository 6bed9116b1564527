// The about box: the program icon (control 5011, 48 x 48), the title painted in a 14-point font, the
// version line (control 5016: string 217, a space and the first line of Version.txt in the program's
// folder) and a white panel of two pictures (bitmaps 215 and 216 on statics 1056 and 1057). OK closes it.
// UI thread only.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>

#include <filesystem>

class AboutBox : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdIcon = 5011;
    static constexpr int kIdVersion = 5016;
    static constexpr int kIdPicture1 = 1056;
    static constexpr int kIdPicture2 = 1057;
    static constexpr int kIdPictures = 505; // the picture panel

    // programFolder: where Version.txt is read from; empty means the running program's data folder.
    explicit AboutBox(QWidget* parent = nullptr, std::filesystem::path programFolder = {});
    ~AboutBox() override;

    // The first line of `file` without its line end; empty when the file cannot be opened.
    static QString FirstLine(const std::filesystem::path& file);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnInitDialog(const std::filesystem::path& programFolder);

    QFont titleFont_;
    QRect titleRect_;
};
