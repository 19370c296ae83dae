#pragma once

// The pictures of the main window's commands and of the settings tree's ticks, drawn in code.
// Only the indices are fixed; an index without a picture gives an empty icon.

#include <QIcon>
#include <QPixmap>

namespace vorlen::gui {

inline constexpr int kMainImageCount = 24;

QPixmap MainPixmap(int index);
QIcon MainIcon(int index);

// The settings tree: 0 unticked, 1 ticked; -1 (root and groups) and anything else has none.
QIcon TreeIcon(int index);

} // namespace vorlen::gui
