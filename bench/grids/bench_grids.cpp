// What the orders grid costs the user-interface thread over a 100,000-row orders_log table while
// a new own order arrives every 100 ms, as the grid updater runs its passes: the longest time
// the UI thread spends on one pass (the calls the updater hands it, then painting one screen of
// rows), in frames of 16.7 ms. Measured twice in the same run: the grid holding every cell's
// text, as it did, and the grid showing rows by reference, as the main window's does now. Then
// the memory each grid holds per row. Wall time: the UI thread's stall is what a trader sees.
// Then what one pass of the updater costs its thread after a new own order (processor time):
// looking at the whole table, as every pass did, and following the store's changes, as the
// main window's passes do now.
// The last lines are
//   ui_stall_frames_text_grid: <longest stall / 16.7 ms, grid of texts>
//   grid_bytes_per_row_text_grid: <memory the grid of texts holds per row>
//   ui_stall_frames: <longest stall / 16.7 ms, grid by reference>
//   grid_bytes_per_row: <memory the grid by reference holds per row>
//   pass_us_whole: <one pass over the whole table, microseconds of the updater's thread>
//   pass_us_following: <one pass that follows the changes>
//   pass_following_vs_whole: <the second over the first>
// Last, what one own order costs the console's user-interface thread (processor time: the calls
// the updater hands it, then reading the newest screenful of rows) over an orders log of 1,000
// and of 14,000 rows, through a grid of texts as the console's were and through the console's
// own grids; a cost that follows the changes stays flat as the log grows:
//   console_text_grid_us_1000 / _14000, console_text_grid_14000_vs_1000
//   console_grid_us_1000 / _14000, console_grid_14000_vs_1000

#include "gateway/Cgate.h"
#include "grids/GridLayouts.h"
#include "grids/GridSink.h"
#include "grids/OrderMenus.h"
#include "grids/RowRefs.h"
#include "grids/UpdGrids.h"
#include "main/console/ConsoleGrids.h"
#include "platform/CodePage.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <time.h>
#include <vector>

namespace vorlen {
namespace {

using test::TFieldSpec;

constexpr std::size_t kRows = 100'000;

// orders_log with the orders grid's fields in types the exchange uses for them.
std::vector<TFieldSpec> OrdersLog() {
    const std::map<std::string, TFieldSpec> special = {
        {"sess_id", {"sess_id", "i4", 4}},
        {"isin_id", {"isin_id", "i4", 4}},
        {"price", {"price", "d16.5", 9}},
        {"deal_price", {"deal_price", "d16.5", 9}},
        {"moment", {"moment", "t", sizeof(cg_time_t)}},
        {"date_exp", {"date_exp", "t", sizeof(cg_time_t)}},
        {"moment_ns", {"moment_ns", "u8", 8}},
        {"dir", {"dir", "i1", 1}},
        {"public_action", {"public_action", "i1", 1}},
        {"client_code", {"client_code", "c7", 7}},
        {"login_from", {"login_from", "c20", 20}},
        {"comment", {"comment", "c20", 20}},
        {"broker_to", {"broker_to", "c7", 7}},
        {"broker_to_rts", {"broker_to_rts", "c7", 7}},
        {"broker_from_rts", {"broker_from_rts", "c7", 7}},
        {"ext_id", {"ext_id", "i4", 4}},
        {"aspref", {"aspref", "i4", 4}},
        {"private_action", {"private_action", "i4", 4}},
        {"reason", {"reason", "i4", 4}},
    };
    std::vector<TFieldSpec> fields;
    for (const auto& column : GridLayout(kOrdersGrid).Columns) {
        const std::string name(column.Field);
        const auto it = special.find(name);
        fields.push_back(it != special.end() ? it->second : TFieldSpec{name, "i8", 8});
    }
    return test::ReplFields(fields);
}

// Built by appending: GCC 12 warns falsely about a literal + std::string in Release builds.
std::string Numbered(const char* prefix, std::size_t n) {
    std::string s(prefix);
    s += std::to_string(n);
    return s;
}

struct TOrdersTable {
    explicit TOrdersTable(std::size_t rows = kRows) {
        Scheme.Table("orders_log", OrdersLog());
        Store.SetStreams({"FORTS_TRADE_REPL"});
        Lsn.sName = "FORTS_TRADE_REPL";
        Store.SetTblsDesc(0, Lsn, Scheme.Desc());
        std::mt19937_64 rng(7);
        test::TRowBytes row(Scheme, "orders_log");
        cg_time_t t{};
        t.year = 2026;
        t.month = 3;
        t.day = 5;
        for (std::size_t i = 0; i < rows; ++i) {
            const auto id = static_cast<std::int64_t>(i + 1);
            t.hour = static_cast<std::uint8_t>(10 + i % 9);
            t.minute = static_cast<std::uint8_t>(i % 60);
            t.second = static_cast<std::uint8_t>(i / 60 % 60);
            t.msec = static_cast<std::uint16_t>(i % 1000);
            row.Key(id)
                .Int("public_order_id", 1'000'000'000 + id)
                .Int("sess_id", 5123)
                .Int("isin_id", static_cast<std::int64_t>(rng() % 400))
                .Int("public_amount", static_cast<std::int64_t>(rng() % 50 + 1))
                .Int("id_deal", static_cast<std::int64_t>(rng() % 1'000'000'000))
                .Decimal("price", static_cast<std::int64_t>(rng() % 10'000'000), 2)
                .Decimal("deal_price", static_cast<std::int64_t>(rng() % 10'000'000), 2)
                .Time("moment", t)
                .Time("date_exp", t)
                .Int("moment_ns", static_cast<std::int64_t>(rng()))
                .Int("dir", static_cast<std::int64_t>(rng() % 2 + 1))
                .Text("client_code", Numbered("A", i % 1000))
                .Text("login_from", Numbered("trader", i % 17))
                .Text("comment", i % 3 == 0 ? std::string() : Numbered("order ", i))
                .Text("broker_to", "")
                .Text("broker_from_rts", "BRK01")
                .Int("private_action", i % 5 == 0 ? 3 : 1);
            Store.UpdStrMsg(row.Msg(), Lsn);
        }
        Store.GetTable(1, Table);
    }
    test::TTestScheme Scheme;
    TCGStorage Store;
    TStreamData Lsn;
    TTable Table;
};

struct TFigures {
    double StallFrames = 0;
    double BytesPerRow = 0;
};

constexpr double kFrameMs = 1000.0 / 60;
constexpr int kScreenRows = 40;
constexpr auto kRun = std::chrono::seconds(4);

// One grid through the updater's thread, this thread serving as the user-interface thread.
TFigures Measure(bool byReference) {
    using Clock = std::chrono::steady_clock;
    TOrdersTable data;
    std::int32_t orders = kFilterAll, mlOrders = kFilterAll;
    TModelGridSink grid(GridLayout(kOrdersGrid));
    grid.SetWantsRowRefs(byReference);
    double longest = 0;
    TUpdateGrids updater(data.Store, orders, mlOrders);
    if (byReference)
        updater.FollowChanges(nullptr);
    updater.SetGrid(kOrdersGrid, &grid);
    ui::MarkUiThread();
    updater.Start();
    std::atomic<bool> stop{false};
    // The trader's own orders, one every 100 ms, on a thread of their own as the market-data
    // thread would apply them.
    std::thread trader([&] {
        test::TRowBytes row(data.Scheme, "orders_log");
        for (std::int64_t id = 10'000'000; !stop; ++id) {
            row.Key(id).Int("public_order_id", id).Int("private_action", 1);
            data.Store.UpdStrMsg(row.Msg(), data.Lsn);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    std::string cell;
    const auto until = Clock::now() + kRun;
    while (Clock::now() < until) {
        const auto t0 = Clock::now();
        if (ui::DrainUiQueue() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        // Painting the screen the trader looks at: the newest rows.
        const int last = grid.RowCount();
        for (int r = std::max(0, last - kScreenRows); r < last; ++r)
            for (int c = 0; c < grid.ColCount(); ++c)
                cell = grid.Cell(r, c);
        longest =
            std::max(longest, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    stop = true;
    trader.join();
    updater.Stop();
    TFigures f;
    f.StallFrames = longest / kFrameMs;
    f.BytesPerRow = static_cast<double>(grid.HeldBytes()) / std::max(1, grid.RowCount());
    ui::UnmarkUiThread();
    return f;
}

double ThreadCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
}

struct TPassCost {
    double WholeUs = 0;
    double FollowingUs = 0;
};

// The updater's side of one pass after each of a series of own orders, both ways over the same
// table; the two lists are compared so the figure is of passes that give the same rows.
TPassCost MeasurePasses() {
    constexpr int kOrders = 200;
    TOrdersTable data;
    TGridChangeFeed feed(nullptr);
    data.Store.SetObserver(&feed);
    TRowCollector collector(data.Store, GridLayout(kOrdersGrid), kOrdersGrid, &feed);
    const std::optional<std::int32_t> filter = kFilterActive;
    collector.Pass(data.Table, filter);
    test::TRowBytes row(data.Scheme, "orders_log");
    double whole = 0, following = 0;
    for (int i = 0; i < kOrders; ++i) {
        row.Key(20'000'000 + i).Int("public_order_id", i).Int("private_action", 1);
        data.Store.UpdStrMsg(row.Msg(), data.Lsn);
        double t0 = ThreadCpuUs();
        const TRowRefList a = collector.Pass(data.Table, filter);
        following += ThreadCpuUs() - t0;
        t0 = ThreadCpuUs();
        const TRowRefList b = CollectRows(data.Store, data.Table, GridLayout(kOrdersGrid), filter);
        whole += ThreadCpuUs() - t0;
        if (a.Keys.Size() != b.Keys.Size() ||
            a.Keys[a.Keys.Size() - 1] != b.Keys[b.Keys.Size() - 1])
            std::fprintf(stderr, "the two passes differ\n");
    }
    data.Store.SetObserver(nullptr);
    return {whole / kOrders, following / kOrders};
}

// The console's user-interface thread over one own order at a time: the order is stored, then
// this thread serves the updater's calls until the grid shows it, and reads the newest rows as a
// screen would. Processor time of this thread only, so the updater's own work is not counted.
double ConsoleUiUsPerOrder(std::size_t rows, bool consoleGrids) {
    constexpr int kOrders = 60;
    TOrdersTable data(rows);
    std::int32_t orders = kFilterAll, mlOrders = kFilterAll;
    TConsoleGrids grids;
    TModelGridSink texts(GridLayout(kOrdersGrid));
    TGridSink* sink = consoleGrids ? grids.Sinks()[kOrdersGrid] : &texts;
    const TModelGridSink& grid = consoleGrids ? grids.Grid(kOrdersGrid) : texts;
    TUpdateGrids updater(data.Store, orders, mlOrders);
    updater.FollowChanges(nullptr);
    updater.SetGrid(kOrdersGrid, sink);
    ui::MarkUiThread();
    updater.Start();
    test::TRowBytes row(data.Scheme, "orders_log");
    std::string cell;
    double spent = 0;
    // The first order brings the first pass, which every grid makes over the whole table.
    for (int i = -1; i < kOrders; ++i) {
        const std::int64_t id = std::int64_t{30'000'000} + i;
        row.Key(id).Int("public_order_id", id).Int("private_action", 1);
        data.Store.UpdStrMsg(row.Msg(), data.Lsn);
        const auto shown = static_cast<int>(rows) + i + 2;
        const double t0 = ThreadCpuUs();
        while (grid.RowCount() != shown)
            if (ui::DrainUiQueue() == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        for (int r = std::max(0, shown - kScreenRows); r < shown; ++r)
            for (int c = 0; c < grid.ColCount(); ++c)
                cell = grid.Cell(r, c);
        if (i >= 0)
            spent += ThreadCpuUs() - t0;
    }
    updater.Stop();
    ui::UnmarkUiThread();
    return spent / kOrders;
}

} // namespace
} // namespace vorlen

int main() try {
    vorlen::CG().cg_bcd_get = vorlen::test::TestBcdGet;
    const vorlen::TFigures text = vorlen::Measure(false);
    const vorlen::TFigures refs = vorlen::Measure(true);
    std::printf("ui_stall_frames_text_grid: %.2f\n", text.StallFrames);
    std::printf("grid_bytes_per_row_text_grid: %.0f\n", text.BytesPerRow);
    std::printf("ui_stall_frames: %.2f\n", refs.StallFrames);
    std::printf("grid_bytes_per_row: %.0f\n", refs.BytesPerRow);
    const vorlen::TPassCost pass = vorlen::MeasurePasses();
    std::printf("pass_us_whole: %.1f\n", pass.WholeUs);
    std::printf("pass_us_following: %.1f\n", pass.FollowingUs);
    std::printf("pass_following_vs_whole: %.4f\n", pass.FollowingUs / pass.WholeUs);
    for (const bool console : {false, true}) {
        const char* name = console ? "console_grid" : "console_text_grid";
        const double small = vorlen::ConsoleUiUsPerOrder(1'000, console);
        const double big = vorlen::ConsoleUiUsPerOrder(14'000, console);
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
