#pragma once

// "Настройки" of an expert window: one row per parameter the strategy declares, under the label
// the script gives it, a check box for true/false and an edit for numbers and text, and the
// script's description of it beneath.

#include "strategies/StrategyParams.h"

#include <QDialog>
#include <vector>

class QWidget;

namespace vorlen::gui {

class TStrategyForm final : public QDialog {
    Q_OBJECT
public:
    TStrategyForm(const QString& strategyName, const TStrategyParams& params,
                  QWidget* parent = nullptr);

    // Every parameter with the value the dialog holds now, unchecked.
    std::vector<TParamOverride> Values() const;

private:
    TStrategyParams FParams;
    std::vector<QWidget*> FEditors; // one per parameter, in FParams' order
};

} // namespace vorlen::gui
