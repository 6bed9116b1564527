// The program's own help window: the help page shown over the panel in the dialogs' look, for a machine
// whose desktop has no viewer for the page (no launcher, or one that found nothing to open it with). The
// page's own colours stay; its type is set to the dialogs' size, so it reads from a sofa. Esc or Close
// closes it; the arrows, Page Up/Down, Home and End scroll. UI thread only.
#pragma once

#include <QDialog>

#include <filesystem>

class QTextBrowser;

class HelpViewer : public QDialog {
    Q_OBJECT

public:
    static constexpr int kIdText = 1;
    static constexpr int kIdClose = 2; // IDCANCEL: Esc closes as Close does

    // Shows `page` over the program's active window without waiting; a viewer already open shows the page
    // and comes to the front instead of a second one opening.
    static HelpViewer* ShowPage(const std::filesystem::path& page);

    HelpViewer(QWidget* parent, const std::filesystem::path& page);

    // Loads `page`; a page that cannot be read shows a line that names it instead.
    void Load(const std::filesystem::path& page);
    // True when the page itself is shown (false: the line naming the missing page).
    bool PageShown() const { return pageShown_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What the viewer is centred on and sized from: its window's frame, else the screen.
    QRect Area() const;

    QTextBrowser* text_;
    bool pageShown_ = false;
};
