#pragma once

// "Параметры записи рынка": whether the terminal records what it receives, where, and how many
// days and gibibytes of day files it keeps. The values live in history.ini of the data folder;
// the connector reads them when the connections start.

#include "settings/HistorySettings.h"

#include <QDialog>
#include <filesystem>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace vorlen::gui {

class THistoryForm final : public QDialog {
    Q_OBJECT
public:
    explicit THistoryForm(std::filesystem::path dataDir, QWidget* parent = nullptr);

    // The values as the dialog holds them; an empty or default folder is kept empty, so it
    // follows the data folder.
    THistorySettings Values() const;

    QCheckBox* RecordBox = nullptr;
    QLineEdit* FolderEdit = nullptr;
    QPushButton* BrowseButton = nullptr;
    QSpinBox* DaysSpin = nullptr;
    QSpinBox* GiBSpin = nullptr;
    QLabel* ErrorLabel = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CancelButton = nullptr;

public slots:
    void SaveClick();
    void BrowseClick();

private:
    std::filesystem::path FDataDir;
};

} // namespace vorlen::gui
