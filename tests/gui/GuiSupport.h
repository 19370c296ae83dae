#pragma once

// What the widget tests share: dialogs answered from a script, and waiting for the event loop.

#include "gui/Modal.h"
#include "main/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace vorlen::test {

// Answers every modal dialog from a queue of steps; a dialog nobody expected fails the test and
// is cancelled, so a broken test never hangs in a modal loop.
class TScriptedModal {
public:
    using TStep = std::function<int(QDialog&)>;
    TScriptedModal() {
        gui::SetModalHandler([this](QDialog& dialog) {
            ++Shown;
            if (Steps.empty()) {
                ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString();
                return static_cast<int>(QDialog::Rejected);
            }
            TStep step = std::move(Steps.front());
            Steps.pop_front();
            return step(dialog);
        });
    }
    ~TScriptedModal() { gui::SetModalHandler({}); }
    TScriptedModal(const TScriptedModal&) = delete;
    TScriptedModal& operator=(const TScriptedModal&) = delete;

    static int Accept(QDialog&) { return QDialog::Accepted; }
    static int Reject(QDialog&) { return QDialog::Rejected; }

    std::deque<TStep> Steps;
    int Shown = 0;
};

// A generous limit for things the event loop brings about (timers, worker threads).
inline bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
    return QTest::qWaitFor(done, ms);
}

} // namespace vorlen::test
