#include "InProcessTerminal.h"

#include "platform/Module.h"
#include "platform/Thread.h"

#include <cstdlib>

namespace vorlen::e2e {

TInProcessTerminal::TInProcessTerminal(const TSimInstall& inst,
                                       const std::function<void(TSettingsModel&)>& adjust,
                                       std::function<void()> serve)
    : FOldDir(fs::current_path()), FServe(std::move(serve)) {
    if (!FServe)
        FServe = [] { ui::DrainUiQueue(); };
    setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    ui::MarkUiThread();
    auto settings = std::make_unique<TSettingsModel>();
    if (settings->Load(inst.SettingsFile).Status != TLoadStatus::Loaded) {
        FErrors << "the installation's settings file did not load\n";
        return;
    }
    if (adjust)
        adjust(*settings);
    FView = std::make_unique<TConsoleView>(FJournal, std::move(settings));
    const TPortFactory makePort = ConnectorPortFactory(DefaultConnectorServices(), inst.DataDir);
    FController = std::make_unique<TMainController>(
        *FView,
        [this, makePort](TJournalSink& memo, const std::array<TGridSink*, kGridCount>& grids) {
            std::unique_ptr<TTerminalPort> created = makePort(memo, grids);
            FPort = static_cast<TConnectorPort*>(created.get());
            return created;
        },
        platform::ExecutableDir());
    FController->FormCreate();
    FController->Timer1Timer();
    if (FDialogs.Errors() > 0 || FPort == nullptr)
        return;
    FController->Connect1Execute();
    if (FDialogs.Errors() > 0 || !FPort->EnvOpen())
        return;
    FOnline = ServeUntil([this] { return FView->Online(); });
}

TInProcessTerminal::~TInProcessTerminal() {
    FController.reset();
    ui::UnmarkUiThread();
    unsetenv("VORLEN_REGISTRY"); // NOLINT(concurrency-mt-unsafe): its threads have ended
    fs::current_path(FOldDir);
}

bool TInProcessTerminal::ServeUntil(const std::function<bool()>& done,
                                    std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
            FServe();
            return done();
        },
        limit);
}

} // namespace vorlen::e2e
