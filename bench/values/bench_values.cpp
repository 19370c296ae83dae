// Cost of converting one stream row into values, against copying the row's bytes.
//
// The row is shaped like orders_log: the three service fields, ten text fields, integers of
// every width, decimals and a time. The last line printed is
//   values_vs_memcpy: <time of FieldToVariant over the row / time of copying it>

#include "gateway/Cgate.h"
#include "store/FieldConversion.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace vorlen {
namespace {

// Decimals here are 8 bytes of mantissa and one byte of scale; the real gateway has its own
// encoding, which only its cg_bcd_get reads.
std::uint32_t CG_CALL BenchBcdGet(const void* bcd, std::int64_t* mantissa, std::int8_t* scale) {
    std::memcpy(mantissa, bcd, 8);
    std::memcpy(scale, static_cast<const std::uint8_t*>(bcd) + 8, 1);
    return CG_ERR_OK;
}

struct TFieldSpec {
    const char* name;
    const char* type;
    std::size_t size;
};

constexpr TFieldSpec kOrdersLog[] = {
    {"replID", "i8", 8},          {"replRev", "i8", 8},       {"replAct", "i8", 8},
    {"id_ord", "i8", 8},          {"sess_id", "i4", 4},       {"client_code", "c7", 7},
    {"moment", "t", 10},          {"xstatus", "i8", 8},       {"status", "i4", 4},
    {"action", "i1", 1},          {"isin_id", "i4", 4},       {"dir", "i1", 1},
    {"price", "d16.5", 9},        {"amount", "i4", 4},        {"amount_rest", "i4", 4},
    {"comment", "c20", 20},       {"hedge", "i1", 1},         {"trust", "i1", 1},
    {"ext_id", "i4", 4},          {"login_from", "c20", 20},  {"broker_to", "c7", 7},
    {"broker_to_rts", "c7", 7},   {"date_exp", "c8", 8},      {"id_ord1", "i8", 8},
    {"broker_from_rts", "c7", 7}, {"init_moment", "c12", 12}, {"init_amount", "i4", 4},
    {"deal_price", "d16.5", 9},   {"aspref", "c4", 4},        {"xamount", "u8", 8},
};
static_assert(std::size(kOrdersLog) == 30);

struct TRow {
    std::vector<cg_field_desc_t> fields;
    std::vector<std::uint8_t> data;
};

void Put(std::vector<std::uint8_t>& data, std::size_t offset, const void* bytes, std::size_t n) {
    std::memcpy(data.data() + offset, bytes, n);
}

TRow MakeRow() {
    TRow row;
    std::size_t offset = 0;
    for (const TFieldSpec& field : kOrdersLog) {
        cg_field_desc_t f{};
        f.name = field.name;
        f.fild_type = field.type;
        f.size = field.size;
        f.offset = offset;
        offset += field.size;
        row.fields.push_back(f);
    }
    row.data.assign(offset, 0);
    for (const cg_field_desc_t& f : row.fields) {
        switch (f.fild_type[0]) {
        case 'c': {
            // Text filling most of its width, as client codes and comments do; one Cyrillic.
            std::string text = f.size > 12 ? "\xCA\xEE\xEC\xEC\xE5\xED\xF2 order" : "A1B2C3D4E5F6";
            text.resize(f.size - 1);
            Put(row.data, f.offset, text.data(), text.size());
            break;
        }
        case 'd': {
            const std::int64_t mantissa = 12345678;
            const std::int8_t scale = 5;
            Put(row.data, f.offset, &mantissa, 8);
            Put(row.data, f.offset + 8, &scale, 1);
            break;
        }
        case 't': {
            const cg_time_t t{2024, 3, 5, 10, 20, 30, 0, 250};
            Put(row.data, f.offset, &t, sizeof t);
            break;
        }
        default: {
            const std::uint64_t v = 0x0102030405060708ull;
            Put(row.data, f.offset, &v, f.size);
        }
        }
    }
    return row;
}

const TRow& Row() {
    static const TRow row = MakeRow();
    return row;
}

void BM_CopyRow(benchmark::State& state) {
    const TRow& row = Row();
    std::vector<std::uint8_t> copy(row.data.size());
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        std::memcpy(copy.data(), row.data.data(), row.data.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyRow);

void BM_FieldToVariantRow(benchmark::State& state) {
    const TRow& row = Row();
    std::array<TValue, 30> values;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's idiom
        for (std::size_t i = 0; i < row.fields.size(); ++i)
            values[i] = FieldToVariant(row.fields[i], row.data.data(), row.data.size());
        benchmark::DoNotOptimize(values.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FieldToVariantRow);

// Keeps the real time per iteration of each benchmark while printing as usual.
// Without colours: the output is usually read from a file or a pipe.
class TCollectingReporter : public benchmark::ConsoleReporter {
public:
    TCollectingReporter() : ConsoleReporter(OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                Times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
};

} // namespace
} // namespace vorlen

int main(int argc, char** argv) {
    vorlen::CG().cg_bcd_get = vorlen::BenchBcdGet;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    vorlen::TCollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto copy = reporter.Times.find("BM_CopyRow");
    const auto convert = reporter.Times.find("BM_FieldToVariantRow");
    if (copy == reporter.Times.end() || convert == reporter.Times.end() || copy->second <= 0) {
        std::fprintf(stderr, "values_vs_memcpy: both benchmarks must run\n");
        return 1;
    }
    std::fflush(stdout);
    std::printf("values_vs_memcpy: %.2f\n", convert->second / copy->second);
    return 0;
}
