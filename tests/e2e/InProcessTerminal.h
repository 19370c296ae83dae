#pragma once

// The terminal's core in this process, driven as the console drives it (the main window's
// controller over the real connector), connected to an offline-exchange installation. The
// calling thread is the UI thread for as long as the object lives.

#include "SimHarness.h"
#include "main/ConnectorPort.h"
#include "main/console/ConsoleTerminal.h"

#include <functional>
#include <memory>
#include <sstream>
#include <string>

namespace vorlen::e2e {

class TInProcessTerminal {
public:
    // Applies the installation's settings file (changed first by `adjust`, when given), connects
    // and waits until the instrument lists are built, calling `serve` while it waits (by
    // default the UI-call queue is drained; a program with windows also runs its event loop).
    explicit TInProcessTerminal(const TSimInstall& inst,
                                const std::function<void(TSettingsModel&)>& adjust = {},
                                std::function<void()> serve = {});
    // Closes through the shutdown order.
    ~TInProcessTerminal();
    TInProcessTerminal(const TInProcessTerminal&) = delete;
    TInProcessTerminal& operator=(const TInProcessTerminal&) = delete;

    // Connected and the instrument lists built; otherwise Failure() says what went wrong.
    bool Online() const { return FOnline; }
    std::string Failure() const { return FErrors.str() + FJournal.str(); }
    // Waits for `done`, serving as above; false when the limit passed first.
    bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s);

    TConnectorPort& Port() { return *FPort; }
    TConsoleView* View() { return FView.get(); }
    TMainController* Controller() { return FController.get(); }
    // The journal lines written so far.
    std::string Journal() const { return FJournal.str(); }

private:
    std::filesystem::path FOldDir;
    std::function<void()> FServe;
    std::ostringstream FJournal;
    std::ostringstream FErrors;
    TConsoleDialogs FDialogs{FErrors};
    TScopedDialogs FScoped{FDialogs};
    std::unique_ptr<TConsoleView> FView;
    std::unique_ptr<TMainController> FController;
    TConnectorPort* FPort = nullptr;
    bool FOnline = false;
};

} // namespace vorlen::e2e
