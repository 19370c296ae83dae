// The desktop terminal: the main window over the real connector.

#include "gui/MainForm.h"
#include "gui/QtDialogs.h"
#include "gui/QtTranslations.h"
#include "gui/UiBridge.h"
#include "main/ConnectorPort.h"
#include "main/Dialogs.h"
#include "main/LocaleFormats.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"

#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <cstdlib>

namespace {

// Without a display Qt aborts in the QApplication constructor; say what to do instead.
bool DisplayAvailable() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const auto set = [](const char* name) {
        // Read before QApplication exists, so no other thread of ours runs yet.
        const char* value = std::getenv(name); // NOLINT(concurrency-mt-unsafe)
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

vorlen::TFormatSettings LocaleFormatSettings() {
    const QLocale locale = QLocale::system();
    return vorlen::FormatSettingsFromQtLocale(locale.dateFormat(QLocale::ShortFormat).toStdString(),
                                              locale.timeFormat(QLocale::LongFormat).toStdString(),
                                              locale.decimalPoint().toStdString());
}

} // namespace

int main(int argc, char* argv[]) {
    if (!DisplayAvailable()) {
        std::fprintf(stderr,
                     "vorlen: no display to open the terminal's windows on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set).\n"
                     "Run vorlen-console for the terminal without windows, or set "
                     "QT_QPA_PLATFORM=offscreen to run the windows off screen.\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlen"));
    vorlen::gui::InstallQtTranslations(app);

    vorlen::SetFormatSettings(LocaleFormatSettings());
    vorlen::ui::MarkUiThread();
    vorlen::gui::TUiBridge bridge;
    vorlen::gui::TQtDialogs dialogs;
    vorlen::TScopedDialogs installed(dialogs);

    int result = 0;
    {
        vorlen::gui::TMainForm form(vorlen::DesktopPortFactory(vorlen::DesktopDataDir()));
        form.show();
        result = QApplication::exec();
    }
    vorlen::ui::UnmarkUiThread();
    return result;
}
