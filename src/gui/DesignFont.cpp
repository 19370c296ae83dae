#include "gui/DesignFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace vorlen::gui {

QFont DesignFont(const QFont& base) {
    QFont font = base;
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        font.setFamily(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    return font;
}

} // namespace vorlen::gui
