// The widget tests run in one QApplication, off screen unless a platform is named, with the UI
// thread marked and the Qt event loop draining the workers' calls.

#include "gui/UiBridge.h"
#include "platform/Thread.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

QtMessageHandler gDefaultHandler = nullptr;

// The off-screen platform says for every top-level window that it cannot pass size hints on;
// nothing a test could act upon, and it buries the output that matters.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("This plugin does not support")))
        return;
    gDefaultHandler(type, context, text);
}

} // namespace

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: its own thread pool (QtGui draws large images on it)
// allocates on one thread and frees on another behind synchronisation the sanitizer cannot see.
// Only Qt's own calls into the allocator are ignored; every access our code makes is checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n";
}
#endif

int main(int argc, char** argv) {
    gDefaultHandler = qInstallMessageHandler(FilterMessages);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    vorlen::ui::MarkUiThread();
    int result = 0;
    {
        vorlen::gui::TUiBridge bridge;
        result = RUN_ALL_TESTS();
    }
    vorlen::ui::UnmarkUiThread();
    return result;
}
