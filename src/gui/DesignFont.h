#pragma once

#include <QFont>

namespace vorlen::gui {

// The dialogs are laid out for Tahoma at 8 points, as the terminal's forms always were; where
// Tahoma is missing the default family stands in at the same size, so the texts still fit.
QFont DesignFont(const QFont& base);

} // namespace vorlen::gui
