#include "gui/QtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace vorlen::gui {

QTranslator* InstallQtTranslations(QCoreApplication& app) {
    const QStringList folders = {
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"))};
    auto* translator = new QTranslator(&app);
    for (const QString& folder : folders) {
        if (translator->load(QStringLiteral("qtbase_ru"), folder) &&
            QCoreApplication::installTranslator(translator))
            return translator;
    }
    delete translator;
    return nullptr;
}

} // namespace vorlen::gui
