// Dims a window while any dialog of the program stands over it: a sheet of the field's black at 60 %
// over the whole window, shown when the first dialog appears and taken away when the last one closes, so
// the dialog reads as the one thing to attend to. The sheet is a child of the window, painted with it, so
// it needs no compositing window manager. UI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

namespace ui {

class PanelDimmer : public QObject {
public:
    // Watches the application for dialogs from now until it is destroyed.
    explicit PanelDimmer(QWidget* window);
    ~PanelDimmer() override;

    bool Dimmed() const;

    // The alpha of the sheet (0..255).
    static constexpr int kShadeAlpha = 153;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Update();

    QWidget* window_;
    QWidget* shade_;
    std::vector<QPointer<QWidget>> open_;
};

} // namespace ui
