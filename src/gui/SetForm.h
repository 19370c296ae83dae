#pragma once

// The settings dialog. Its controls mirror a TSettingsModel: plain texts are copied into the
// model as the user types, and every change that carries a rule (market, depth, spin, the three
// boxes with handlers, the tree, saving and loading) goes through the model.

#include "settings/Settings.h"

#include <QDialog>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace vorlen::gui {

class TStreamTreeModel;
class TStreamTreeView;

inline constexpr const char* kSetFormCaption =
    "Общие настройки, данные окружения, соединений и потоков";

class TSetForm final : public QDialog {
    Q_OBJECT
public:
    // `savingDir` is where "Сохранить" writes; empty means "saving" beside the executable.
    explicit TSetForm(QWidget* parent = nullptr, std::filesystem::path savingDir = {});
    ~TSetForm() override;

    TSettingsModel& Model() { return *FModel; }
    // Hands the dialog's values and tree over (for applying them once the dialog is closed).
    std::unique_ptr<TSettingsModel> TakeModel();

    // Shows the model's state in every control (after loading a file).
    void ShowModel();

    QGroupBox* GeneralGroup = nullptr;
    QGroupBox* EnvironmentGroup = nullptr;
    QGroupBox* ConnectionGroup = nullptr;
    QGroupBox* StreamsGroup = nullptr;

    QLineEdit* RegKeyEdit = nullptr;
    QLineEdit* RegRecordEdit = nullptr;
    QLineEdit* CgateDllEdit = nullptr;
    QLineEdit* RoutNameEdit = nullptr;
    QLineEdit* RoutIniEdit = nullptr;
    QLineEdit* ServiceNameEdit = nullptr;
    QComboBox* MarketBox = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QButtonGroup* RadioButtons = nullptr;
    QCheckBox* CLTBox = nullptr;
    QCheckBox* FightBox = nullptr;

    QLineEdit* CGIniEdit = nullptr;
    QLineEdit* SubSysEdit = nullptr;
    QLineEdit* LogTypeEdit = nullptr;
    QLineEdit* LogLevelEdit = nullptr;
    QLineEdit* ProgKeyEdit = nullptr;
    QMenu* KeyMenu = nullptr;
    QAction* N1 = nullptr; // "Показать ключ"
    QAction* N2 = nullptr; // "Скрыть ключ"

    QLineEdit* TypeConnEdit = nullptr;
    QLineEdit* HostEdit = nullptr;
    QLineEdit* PortEdit = nullptr;
    QLineEdit* ProgNameEdit = nullptr;
    QLineEdit* RoutTOutEdit = nullptr;
    QLineEdit* LocTOutEdit = nullptr;
    QLineEdit* VersionEdit = nullptr;
    QLineEdit* BuffSizeEdit = nullptr;
    QCheckBox* ProtocolBox = nullptr;
    QCheckBox* SchemBox = nullptr;

    TStreamTreeView* TreeView1 = nullptr;
    TStreamTreeModel* TreeModel = nullptr;

    QPushButton* ApplyButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* LoadButton = nullptr;

public slots:
    void ApplyButtonClick();
    void CancelButtonClick();
    void SaveButtonClick();
    void LoadButtonClick();
    void MarketBoxChange(int index);
    void RadioGroup1Click(int index);
    void ProtocolBoxClick(bool ticked);
    void FightBoxClick(bool ticked);
    void SchemBoxClick(bool ticked);
    void N1Click();
    void N2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateGeneralGroup();
    void CreateEnvironmentGroup();
    void CreateConnectionGroup();
    void CreateStreamsGroup();
    void CreateButtons();
    QLineEdit* NewEdit(const char* name, std::string TDialogValues::*field);
    void ShowKey(bool shown);
    void ShowEnabledRules();

    std::unique_ptr<TSettingsModel> FModel;
    std::filesystem::path FSavingDir;
    std::vector<std::pair<QLineEdit*, std::string TDialogValues::*>> FEdits;
    bool FCentred = false;
};

} // namespace vorlen::gui
