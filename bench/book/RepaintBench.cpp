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

// Runs Qt's loop, serving the terminal's UI-call queue too, for `ms`. With a form, returns its
// repaints per second: repaints after the first over the time from the first to the last, so
// that where the span starts and ends between two timer steps does not count.
double Spin(QApplication& app, int ms, const gui::TBookForm* form = nullptr) {
    QElapsedTimer clock;
    clock.start();
    std::uint64_t seen = form != nullptr ? form->Repaints() : 0, count = 0;
    qint64 first = -1, last = -1;
    while (clock.elapsed() < ms) {
        ui::DrainUiQueue();
        app.processEvents(QEventLoop::AllEvents, 1);
        if (form != nullptr && form->Repaints() != seen) {
            seen = form->Repaints();
            last = clock.nsecsElapsed();
            if (first < 0)
                first = last;
            else
                ++count;
        }
    }
    return last > first ? static_cast<double>(count) * 1e9 / static_cast<double>(last - first) : 0;
}

std::uint64_t RowsSent(const e2e::TSimInstall& inst) {
    const std::string reply = inst.Control("counters");
    const auto at = reply.find(" rows=");
    return at == std::string::npos ? 0 : std::strtoull(reply.c_str() + at + 6, nullptr, 10);
}

} // namespace

double RepaintsPerSecond(int argc, char** argv) {
    // Before any thread starts.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) // NOLINT(concurrency-mt-unsafe)
        setenv("QT_QPA_PLATFORM", "offscreen", 1); // NOLINT(concurrency-mt-unsafe)
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
    term.Port().Connector().Storage()->GetHeaders(fut, opt, spot);
    if (fut.empty())
        return -1;
    gui::TBookForm form(term.Port().Books(), fut.front().isin_id, fut.front().isin);
    form.show();
    inst.Control("rate max");
    Spin(app, kWarmUpMs); // the router reaches its pace
    const std::uint64_t rows = RowsSent(inst);
    QElapsedTimer clock;
    clock.start();
    const double rate = Spin(app, kMeasureMs, &form);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    std::printf("book_sim_rows_per_s: %.0f\n",
                static_cast<double>(RowsSent(inst) - rows) / seconds);
    inst.Control("rate 0");
    return rate;
}
