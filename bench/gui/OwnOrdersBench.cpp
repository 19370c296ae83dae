// What "Мои заявки" costs the user-interface thread while orders flow: one refresh after an
// order is placed and another partly filled, painted, over a day of 1,000 and of 14,000 orders
// (processor time of this thread). Measured twice in the same run: the rows made anew, as every
// refresh made them (a sort chosen again makes them so), and following the orders the log named.
// The lines are
//   own_orders_whole_us_1000 / _14000, own_orders_whole_14000_vs_1000
//   own_orders_us_1000 / _14000, own_orders_14000_vs_1000
// A refresh that follows the changes stays flat as the day's orders grow.

#include "gateway/Cgate.h"
#include "gui/OwnOrdersForm.h"
#include "orders/OrdersLogStore.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

namespace {

using namespace vorlen;

double ThreadCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
}

// Processor time of one refresh, painting included, averaged over a series of orders.
double RefreshUs(std::size_t orders, bool whole) {
    constexpr int kOrders = 40;
    test::TOrdersLogStore log;
    for (std::size_t i = 1; i <= orders; ++i)
        log.Row(static_cast<std::int64_t>(i), 1, 5);
    gui::TOwnOrdersForm form(&log.Store, [] { return nullptr; });
    form.show();
    QApplication::processEvents();
    double spent = 0;
    for (int i = 0; i < kOrders; ++i) {
        const auto id = static_cast<std::int64_t>(orders) + 1 + i;
        log.Row(id, 1, 5);
        log.Row(id / 2, 2, 4);
        const double t0 = ThreadCpuUs();
        if (whole)
            form.SortBy(i % 2 == 0 ? 0 : -1, false);
        else
            form.Refresh();
        QApplication::processEvents();
        spent += ThreadCpuUs() - t0;
    }
    if (form.Rows().size() != orders + kOrders)
        std::fprintf(stderr, "the window shows %zu orders, not %zu\n", form.Rows().size(),
                     orders + kOrders);
    return spent / kOrders;
}

} // namespace

int main(int argc, char** argv) try {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) // NOLINT(concurrency-mt-unsafe)
        setenv("QT_QPA_PLATFORM", "offscreen", 1); // NOLINT(concurrency-mt-unsafe)
    QApplication app(argc, argv);
    vorlen::CG().cg_bcd_get = vorlen::test::TestBcdGet;
    for (const bool whole : {true, false}) {
        const char* name = whole ? "own_orders_whole" : "own_orders";
        const double small = RefreshUs(1'000, whole);
        const double big = RefreshUs(14'000, whole);
        std::printf("%s_us_1000: %.1f\n", name, small);
        std::printf("%s_us_14000: %.1f\n", name, big);
        std::printf("%s_14000_vs_1000: %.2f\n", name, big / small);
    }
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
} catch (...) {
    return 1;
}
