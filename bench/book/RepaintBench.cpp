// A book window over the terminal's core connected to the offline exchange, which runs at its
// maximum rate while the window's ladder repaints are counted.

#include "e2e/SimHarness.h"
#include "gui/BookForm.h"
#include "main/ConnectorPort.h"
#include "main/console/ConsoleTerminal.h"
#include "platform/FormatSettings.h"
#include "platform/Module.h"
#include "platform/Thread.h"
#include "store/Storage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

using namespace vorlen;

constexpr int kMeasureMs = 4000;

// Runs Qt's loop, serving the terminal's UI-call queue too, until `done` or `limitMs`.
bool Spin(QApplication& app, const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        ui::DrainUiQueue();
        app.processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

std::uint64_t RowsSent(const e2e::TSimInstall& inst) {
    const std::string reply = inst.Control("counters");
    const auto at = reply.find(" rows=");
    return at == std::string::npos ? 0 : std::strtoull(reply.c_str() + at + 6, nullptr, 10);
}

} // namespace

double RepaintsPerSecond(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    e2e::TSimInstall inst(0);
    setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1);
    SetFormatSettings(RussianFormatSettings());
    ui::MarkUiThread();
    std::ostringstream journal, errors;
    TConsoleDialogs dialogs(errors);
    TScopedDialogs scoped(dialogs);
    auto settings = std::make_unique<TSettingsModel>();
    if (settings->Load(inst.SettingsFile).Status != TLoadStatus::Loaded)
        return -1;
    TConsoleView view(journal, std::move(settings));
    TConnectorPort* port = nullptr;
    const TPortFactory makePort = ConnectorPortFactory();
    auto controller = std::make_unique<TMainController>(
        view,
        [&](TJournalSink& memo, const std::array<TGridSink*, kGridCount>& grids) {
            std::unique_ptr<TTerminalPort> created = makePort(memo, grids);
            port = static_cast<TConnectorPort*>(created.get());
            return created;
        },
        platform::ExecutableDir());
    controller->FormCreate();
    controller->Timer1Timer();
    controller->Connect1Execute();
    double rate = -1;
    if (port != nullptr && port->EnvOpen() &&
        Spin(
            app, [&] { return view.Online(); }, 120000)) {
        THeaders fut, opt;
        TSHeaders spot;
        port->Connector().Storage->GetHeaders(fut, opt, spot);
        if (!fut.empty()) {
            gui::TBookForm form(port->Books(), fut.front().isin_id, fut.front().isin);
            form.show();
            inst.Control("rate max");
            Spin(
                app, [] { return false; }, 500); // the router reaches its pace
            const std::uint64_t repaints = form.Repaints();
            const std::uint64_t rows = RowsSent(inst);
            QElapsedTimer clock;
            clock.start();
            Spin(
                app, [] { return false; }, kMeasureMs);
            const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
            rate = static_cast<double>(form.Repaints() - repaints) / seconds;
            std::printf("book_sim_rows_per_s: %.0f\n",
                        static_cast<double>(RowsSent(inst) - rows) / seconds);
            inst.Control("rate 0");
        }
    }
    controller->FormClose();
    controller.reset();
    ui::UnmarkUiThread();
    return rate;
}
