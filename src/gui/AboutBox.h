#pragma once

#include <QDialog>

namespace vorlen::gui {

// "О программе": the program's name and purpose, and an OK button.
class TAboutBox final : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

} // namespace vorlen::gui
