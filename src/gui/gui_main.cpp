// The desktop terminal: the main window over the real connector.

#include "gui/ChartForm.h"
#include "gui/MainForm.h"
#include "gui/QtDialogs.h"
#include "gui/QtTranslations.h"
#include "gui/UiBridge.h"
#include "main/ConnectorPort.h"
#include "main/Dialogs.h"
#include "main/LocaleFormats.h"
#include "main/TerminalDesk.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "settings/SavedSettings.h"

#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

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

constexpr char kChartUsage[] =
    "usage: vorlen --chart ISIN [--interval tick|1m|5m|15m|1h|1d] [--from \"YYYY-MM-DD HH:MM\"]\n"
    "              [--to \"YYYY-MM-DD HH:MM\"] [--history DIR] [--size WxH] --png FILE\n";

// `vorlen --chart ...`: the options of a picture, or nothing (with the reason on stderr).
std::optional<vorlen::gui::TChartPicture> ChartOptions(int argc, char* argv[]) {
    vorlen::gui::TChartPicture picture;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vorlen: %s wants a value\n%s", name.c_str(), kChartUsage);
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (name == "--chart") {
            picture.Isin = value;
        } else if (name == "--interval") {
            picture.Interval = value;
        } else if (name == "--from") {
            picture.From = value;
        } else if (name == "--to") {
            picture.To = value;
        } else if (name == "--history") {
            picture.HistoryDir = vorlen::PathFromUtf8(value);
        } else if (name == "--png") {
            picture.File = vorlen::PathFromUtf8(value);
        } else if (name == "--size" &&
                   std::sscanf(value.c_str(), "%dx%d", &picture.Width, &picture.Height) == 2 &&
                   picture.Width > 0 && picture.Height > 0) {
        } else {
            std::fprintf(stderr, "vorlen: %s %s: not understood\n%s", name.c_str(), value.c_str(),
                         kChartUsage);
            return std::nullopt;
        }
    }
    if (picture.Isin.empty() || picture.File.empty()) {
        std::fprintf(stderr, "vorlen: --chart wants an instrument and --png a file\n%s",
                     kChartUsage);
        return std::nullopt;
    }
    if (picture.HistoryDir.empty())
        picture.HistoryDir = vorlen::DesktopHistoryFolder(vorlen::DesktopDataDir());
    return picture;
}

// Draws the chart window into a PNG on the off-screen platform and exits: no display needed.
int RunChartPicture(int argc, char* argv[]) {
    const auto picture = ChartOptions(argc, argv);
    if (!picture)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vorlen::SetFormatSettings(vorlen::RussianFormatSettings());
    std::string error;
    if (!vorlen::gui::RenderChartPicture(*picture, error)) {
        std::fprintf(stderr, "vorlen: --chart: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--chart") == 0)
            return RunChartPicture(argc, argv);
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
        vorlen::gui::TMainForm form(vorlen::DesktopPortFactory(vorlen::DesktopDataDir(),
                                                               vorlen::DefaultConnectorServices(),
                                                               vorlen::DesktopOldTradingDir()));
        form.show();
        result = QApplication::exec();
    }
    vorlen::ui::UnmarkUiThread();
    return result;
}
