// Cost of one full pass of the orders grid over a 100,000-row orders_log table, against a loop
// that reads the same cells and formats each with ValueToStr into a preallocated array. The
// pass shows every row (filter "active" over actions 1 and 3) into a model-backed grid that is
// kept between passes, as the main window's grid is.
//
// The last lines are
//   grid_pass_vs_format: <pass time / baseline time>
//   grid_pass_lock_share: <part of the pass spent holding the store's lock>

#include "FastestRunReporter.h"
#include "gateway/Cgate.h"
#include "grids/GridLayouts.h"
#include "grids/GridPass.h"
#include "grids/GridSink.h"
#include "platform/CodePage.h"
#include "platform/FormatSettings.h"
#include "store/Functions.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
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

struct TTable100k {
    TTable100k() {
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
        for (std::size_t i = 0; i < kRows; ++i) {
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

TTable100k& Data() {
    static TTable100k data;
    return data;
}

double gLockedSeconds = 0;
double gPassSeconds = 0;

void BM_Pass(benchmark::State& state) {
    auto& data = Data();
    TModelGridSink grid(GridLayout(kOrdersGrid));
    TGridPass pass(GridLayout(kOrdersGrid));
    const auto fs = RussianFormatSettings();
    double locked = 0;
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        pass.RunOn(
            [&](const auto& fn) {
                const auto in = std::chrono::steady_clock::now();
                {
                    const TCGStorage::TAccess access(data.Store);
                    fn(access.Rows(data.Table));
                }
                locked +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - in).count();
            },
            grid, kFilterActive, fs);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(grid.Cell(grid.RowCount() - 1, 0).data());
    }
    if (grid.RowCount() != static_cast<int>(kRows))
        state.SkipWithError("the pass did not show every row");
    gLockedSeconds += locked;
    gPassSeconds += total;
}

void BM_Baseline(benchmark::State& state) {
    auto& data = Data();
    const auto& columns = GridLayout(kOrdersGrid).Columns;
    std::vector<std::string> cells(kRows * columns.size());
    const auto fs = RussianFormatSettings();
    for (auto _ : state) {
        const TCGStorage::TAccess access(data.Store);
        const TRows& rows = access.Rows(data.Table);
        std::vector<int> pos;
        for (const auto& column : columns)
            pos.push_back(rows.IndexOf(column.Field));
        std::size_t k = 0;
        TField field;
        for (const TRowView row : rows) {
            for (const int p : pos) {
                row.Get(p, field);
                cells[k++] = ValueToStr(field.Data, fs);
            }
        }
        benchmark::DoNotOptimize(cells.back().data());
    }
}

BENCHMARK(BM_Baseline)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);
BENCHMARK(BM_Pass)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

} // namespace
} // namespace vorlen

int main(int argc, char** argv) {
    vorlen::CG().cg_bcd_get = vorlen::test::TestBcdGet;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    vorlen::Data(); // the table is built before anything is timed
    vorlen::bench::TFastestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& times = reporter.Times;
    if (!times.contains("BM_Pass") || !times.contains("BM_Baseline") ||
        times.at("BM_Baseline") <= 0 || vorlen::gPassSeconds <= 0) {
        std::fprintf(stderr, "grid_pass_vs_format: both benchmarks must run\n");
        return 1;
    }
    std::fflush(stdout);
    std::printf("grid_pass_vs_format: %.2f\n", times.at("BM_Pass") / times.at("BM_Baseline"));
    std::printf("grid_pass_lock_share: %.2f\n", vorlen::gLockedSeconds / vorlen::gPassSeconds);
    return 0;
}
