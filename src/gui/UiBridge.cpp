#include "gui/UiBridge.h"

#include "platform/Thread.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace vorlen::gui {

TUiBridge::TUiBridge() {
    ui::SetWakeup([] {
        // The application object outlives every worker, so it is a safe target from any thread.
        // The call is queued, never blocking: a blocking queued call from the UI thread to itself
        // would dead-lock, and the worker already waits inside Synchronize anyway.
        QCoreApplication* app = QCoreApplication::instance();
        if (app != nullptr)
            QMetaObject::invokeMethod(
                app, [] { ui::DrainUiQueue(); }, Qt::QueuedConnection);
    });
}

TUiBridge::~TUiBridge() {
    ui::SetWakeup({});
}

} // namespace vorlen::gui
