// The settings dialog's handlers: each forwards to the model and shows what follows from it.

#include "gui/Modal.h"
#include "gui/SetForm.h"
#include "gui/StreamTreeModel.h"
#include "main/Dialogs.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

namespace vorlen::gui {

void TSetForm::ShowModel() {
    if (FModel == nullptr)
        return;
    const TDialogValues& v = FModel->Values;
    for (const auto& [edit, field] : FEdits) {
        if (edit->text().toStdString() != v.*field) {
            edit->setText(QString::fromStdString(v.*field));
            // Long values show from their start, as the user reads them.
            edit->setCursorPosition(0);
        }
    }
    {
        const QSignalBlocker block(MarketBox);
        MarketBox->setCurrentIndex(v.MarketBox);
    }
    {
        const QSignalBlocker block(SpinEdit1);
        SpinEdit1->setValue(v.SpinEdit1);
    }
    if (QAbstractButton* radio = RadioButtons->button(v.RadioGroup1)) {
        radio->setChecked(true);
    } else if (QAbstractButton* checked = RadioButtons->checkedButton()) {
        // No depth chosen: an exclusive group cannot show that with a button still checked.
        RadioButtons->setExclusive(false);
        checked->setChecked(false);
        RadioButtons->setExclusive(true);
    }
    CLTBox->setChecked(v.CLTBox);
    FightBox->setChecked(v.FightBox);
    SchemBox->setChecked(v.SchemBox);
    ProtocolBox->setChecked(v.ProtocolBox);
    ShowEnabledRules();
}

void TSetForm::ShowEnabledRules() {
    ProgKeyEdit->setEnabled(!FModel->Values.FightBox);
    VersionEdit->setEnabled(FModel->Values.SchemBox);
}

void TSetForm::ApplyButtonClick() {
    accept();
}

void TSetForm::CancelButtonClick() {
    reject();
}

void TSetForm::MarketBoxChange(int index) {
    FModel->SetMarket(index);
    ShowModel();
}

void TSetForm::RadioGroup1Click(int index) {
    FModel->SetDepth(index);
    ShowModel();
}

void TSetForm::ProtocolBoxClick(bool ticked) {
    FModel->SetProtocolBox(ticked);
    ShowModel();
}

void TSetForm::FightBoxClick(bool ticked) {
    FModel->Values.FightBox = ticked;
    ShowEnabledRules();
}

void TSetForm::SchemBoxClick(bool ticked) {
    FModel->Values.SchemBox = ticked;
    ShowEnabledRules();
}

void TSetForm::ShowKey(bool shown) {
    ProgKeyEdit->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    N1->setChecked(shown);
    N2->setChecked(!shown);
}

void TSetForm::N1Click() {
    ShowKey(true);
}

void TSetForm::N2Click() {
    ShowKey(false);
}

void TSetForm::SaveButtonClick() {
    const TSaveResult result = FModel->Save(FSavingDir);
    if (!result.Ok)
        ShowError(result.Error);
}

void TSetForm::LoadButtonClick() {
    TOpenFileRequest request;
    request.Parent = this;
    const QString saving = QString::fromStdString(PathToUtf8(FSavingDir));
    request.Directory = QDir(saving).exists()
                            ? saving
                            : QString::fromStdString(PathToUtf8(FSavingDir.parent_path()));
    request.NameFilters = {QStringLiteral("Sav files (*.sav)"), QStringLiteral("All fules (*.*)")};
    request.DefaultSuffix = QStringLiteral("sav");
    const QString file = PickOpenFile(request);
    if (file.isEmpty())
        return;
    const TLoadResult result = FModel->Load(PathFromUtf8(file.toStdString()));
    ShowModel();
    switch (result.Kind) {
    case TMessageKind::Info:
        ShowInfo(result.Message);
        break;
    case TMessageKind::Error:
        ShowError(result.Message);
        break;
    case TMessageKind::None:
        break;
    }
}

} // namespace vorlen::gui
