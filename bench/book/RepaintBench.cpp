// A book window over the terminal's core connected to the offline exchange, which runs at its
// maximum rate while the window's ladder repaints are counted.

#include "e2e/InProcessTerminal.h"
#include "gui/BookForm.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "store/Storage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace vorlen;

constexpr int kMeasureMs = 4000;

constexpr int kWarmUpMs = 500;

// Runs Qt's loop, serving the terminal's UI-call queue too, for `ms`.
void Spin(QApplication& app, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        ui::DrainUiQueue();
        app.processEvents(QEventLoop::AllEvents, 5);
    }
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
    SetFormatSettings(RussianFormatSettings());
    e2e::TInProcessTerminal term(inst, {}, [&app] {
        ui::DrainUiQueue();
        app.processEvents();
    });
    if (!term.Online()) {
        std::fprintf(stderr, "book_repaints_per_s: not connected: %s\n", term.Failure().c_str());
        return -1;
    }
    THeaders fut, opt;
    TSHeaders spot;
    term.Port().Connector().Storage->GetHeaders(fut, opt, spot);
    if (fut.empty())
        return -1;
    gui::TBookForm form(term.Port().Books(), fut.front().isin_id, fut.front().isin);
    form.show();
    inst.Control("rate max");
    Spin(app, kWarmUpMs); // the router reaches its pace
    const std::uint64_t repaints = form.Repaints();
    const std::uint64_t rows = RowsSent(inst);
    QElapsedTimer clock;
    clock.start();
    Spin(app, kMeasureMs);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    const double rate = static_cast<double>(form.Repaints() - repaints) / seconds;
    std::printf("book_sim_rows_per_s: %.0f\n",
                static_cast<double>(RowsSent(inst) - rows) / seconds);
    inst.Control("rate 0");
    return rate;
}
