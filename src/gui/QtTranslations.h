#pragma once

// Qt's own texts (the file dialog, standard buttons such as "Cancel") in the interface's
// language, which is Russian: without them a Russian window would offer English buttons.

class QCoreApplication;
class QTranslator;

namespace vorlen::gui {

// Loads Qt's Russian translations (qtbase_ru) from Qt's translations folder, else from a
// "translations" folder beside the program, and installs them in `app`. Returns the installed
// translator (owned by `app`), or null when none was found; the program then runs with Qt's
// English texts.
QTranslator* InstallQtTranslations(QCoreApplication& app);

} // namespace vorlen::gui
