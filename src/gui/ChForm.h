#pragma once

// The instrument chooser: the user picks a futures and an option for a new expert. The dialog
// mirrors a TChooser, which holds the lists, the choice and the texts shown.

#include "experts/Chooser.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace vorlen::gui {

class TChForm final : public QDialog {
    Q_OBJECT
public:
    TChForm(TChooser& chooser, QWidget* parent = nullptr);

    TChooser& Chooser() { return FChooser; }

    QLabel* FutLabel = nullptr;
    QComboBox* FutBox = nullptr;
    QLabel* FCntLabel = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* OptLabel = nullptr;
    QComboBox* OptBox = nullptr;
    QLabel* OCntLabel = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* SharLabel = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void FutBoxChange(int index);
    void OptBoxChange(int index);
    // OK: refused with a message while the futures box shows a code no futures has.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowChooser();

    TChooser& FChooser;
};

} // namespace vorlen::gui
