#include "gui/StrategyForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace vorlen::gui {

TStrategyForm::TStrategyForm(const QString& strategyName, const TStrategyParams& params,
                             QWidget* parent)
    : QDialog(parent), FParams(params) {
    setObjectName(QStringLiteral("StrategyForm"));
    setWindowTitle(QStringLiteral("Настройки: ") + strategyName);
    auto* form = new QFormLayout(this);
    if (FParams.empty())
        form->addRow(new QLabel(QStringLiteral("Стратегия не объявляет параметров."), this));
    for (const TStrategyParam& p : FParams) {
        QWidget* editor = nullptr;
        if (p.Kind == TParamKind::Boolean) {
            auto* box = new QCheckBox(this);
            box->setChecked(p.Value == "true");
            editor = box;
        } else {
            editor = new QLineEdit(QString::fromStdString(p.Value), this);
        }
        editor->setObjectName(QString::fromStdString(p.Name));
        // The script's own words when it gives them; its name for the parameter otherwise.
        auto* caption =
            new QLabel(QString::fromStdString(p.Label.empty() ? p.Name : p.Label), this);
        caption->setBuddy(editor);
        form->addRow(caption, editor);
        if (!p.Description.empty()) {
            const QString text = QString::fromStdString(p.Description);
            caption->setToolTip(text);
            editor->setToolTip(text);
            auto* description = new QLabel(text, this);
            description->setObjectName(QString::fromStdString(p.Name) + QStringLiteral("Help"));
            description->setWordWrap(true);
            description->setEnabled(false); // drawn greyed, as a note under the field
            form->addRow(QString(), description);
        }
        FEditors.push_back(editor);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

std::vector<TParamOverride> TStrategyForm::Values() const {
    std::vector<TParamOverride> values;
    for (std::size_t i = 0; i < FParams.size(); ++i) {
        std::string text;
        if (const auto* box = qobject_cast<const QCheckBox*>(FEditors[i]))
            text = box->isChecked() ? "true" : "false";
        else
            text = static_cast<const QLineEdit*>(FEditors[i])->text().toStdString();
        values.emplace_back(FParams[i].Name, std::move(text));
    }
    return values;
}

} // namespace vorlen::gui
