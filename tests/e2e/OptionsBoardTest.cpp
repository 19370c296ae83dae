// The options board against the simulator: the console's dump recovers the smile the simulator
// prices its series from, and follows the futures and the smile when the control channel moves
// them.

#include "SimHarness.h"
#include "options/Black76.h"
#include "settings/Catalogue.h"
#include "settings/SavedSettings.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace vorlen::e2e {

namespace {

double Num(std::string t) {
    std::replace(t.begin(), t.end(), ',', '.');
    return std::stod(t);
}

// Neither market preset feeds a board: the custom selection with both instrument tables, the
// book, the common table, positions and the volatility stream.
fs::path BoardSettings(const TSimInstall& inst) {
    TSettingsModel model;
    model.Values.PortEdit = std::to_string(inst.Port);
    model.SetMarket(kMarketCustom);
    const auto tick = [&](int node) {
        if (node >= 0 && !model.Tree.IsTicked(node))
            model.Tree.ClickPicture(node);
    };
    tick(model.Tree.FindTable("FORTS_REFDATA_REPL", "fut_sess_contents"));
    tick(model.Tree.FindTable("FORTS_REFDATA_REPL", "opt_sess_contents"));
    for (const char* s :
         {"FORTS_AGGR5_REPL", "FORTS_COMMON_REPL", "FORTS_POS_REPL", "FORTS_VOLAT_REPL"})
        tick(model.Tree.FindStream(s));
    fs::path file = inst.Root / "board.sav";
    std::ofstream(file) << FormatSavedSettings(model.Snapshot());
    return file;
}

struct TDump {
    std::vector<std::map<std::string, std::string>> Rows;
    std::map<std::string, std::string> Risk;
};

// `during` runs once the router the console started answers its control channel.
TDump RunDump(const TSimInstall& inst, const fs::path& settings, const fs::path& dir,
              const std::string& isin, const std::function<void()>& during = {}) {
    TDump d;
    TConsoleRun run(inst, {"--settings", settings.string(), "--seconds", during ? "10" : "6",
                           "--options", isin, "--dump", dir.string()});
    EXPECT_TRUE(run.Started());
    if (during) {
        EXPECT_TRUE(WaitUntil([&] { return inst.Control("ping").rfind("OK", 0) == 0; }));
        during();
    }
    EXPECT_EQ(run.Wait(120s), 0) << run.Stderr();
    EXPECT_EQ(run.Stderr().find("Не подписаны"), std::string::npos) << run.Stderr();
    const auto table = [](const fs::path& file) {
        std::vector<std::map<std::string, std::string>> rows;
        const auto lines = TsvRows(file);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            std::map<std::string, std::string> r;
            for (std::size_t c = 0; c < lines[0].size() && c < lines[i].size(); ++c)
                r[lines[0][c]] = lines[i][c];
            rows.push_back(r);
        }
        return rows;
    };
    d.Rows = table(dir / ("options_" + isin + ".tsv"));
    const auto risk = table(dir / ("options_risk_" + isin + ".tsv"));
    if (!risk.empty())
        d.Risk = risk[0];
    return d;
}

// Every series quoted on both sides gives back the simulator's smile at its mid: the quotes are
// the smile's price rounded to the step, so within half a step over vega.
int CheckSmile(const TDump& d, double step) {
    int checked = 0;
    for (const auto& r : d.Rows) {
        if (r.at("iv_mid").empty() || r.at("exchange_volat").empty() || r.at("vega").empty())
            continue;
        const double vega = Num(r.at("vega")); // per volatility point
        if (vega < 1e-3)
            continue;
        EXPECT_NEAR(Num(r.at("iv_mid")), Num(r.at("exchange_volat")), step / 2 / vega + 0.05)
            << r.at("isin");
        EXPECT_LE(Num(r.at("iv_bid")), Num(r.at("iv_mid"))) << r.at("isin");
        EXPECT_GE(Num(r.at("iv_ask")), Num(r.at("iv_mid"))) << r.at("isin");
        ++checked;
    }
    return checked;
}

const std::map<std::string, std::string>* Series(const TDump& d, const std::string& isin) {
    for (const auto& r : d.Rows)
        if (r.at("isin") == isin)
            return &r;
    return nullptr;
}

} // namespace

TEST(OptionsBoard, DumpRecoversTheSmileAndFollowsTheFuturesAndTheSmile) {
    TSimInstall inst(0);
    const fs::path settings = BoardSettings(inst);
    const std::string isin = "Si-12.26";
    const TDump before = RunDump(inst, settings, inst.Root / "before", isin);
    ASSERT_EQ(before.Rows.size(), 40u) << "twenty strikes of the monthly expiry, calls and puts";
    EXPECT_GT(CheckSmile(before, 1), 20);
    ASSERT_EQ(before.Risk.at("price_source"), "mid");
    for (const auto& r : before.Rows) {
        EXPECT_GT(Num(r.at("years")), 13.0 / 365) << "expiries are at least two weeks out";
        EXPECT_TRUE(r.at("type") == "C" || r.at("type") == "P");
    }

    std::string futId;
    for (const auto& r : TsvRows(inst.Root / "before" / "instruments.tsv"))
        if (r.size() >= 3 && r[0] == "futures" && r[2] == isin)
            futId = r[1];
    ASSERT_FALSE(futId.empty());
    // The console's router lives as long as the run: the market is moved during the second.
    const TDump after = RunDump(inst, settings, inst.Root / "after", isin, [&] {
        EXPECT_EQ(inst.Control("move " + futId + " 400").rfind("OK", 0), 0u);
        EXPECT_EQ(inst.Control("smile " + futId + " 5").rfind("OK", 0), 0u);
        EXPECT_EQ(inst.Control("smile " + futId + " -500").rfind("ERR", 0), 0u);
    });
    ASSERT_EQ(after.Rows.size(), 40u);
    EXPECT_GT(CheckSmile(after, 1), 20);
    EXPECT_NEAR(Num(after.Risk.at("price")) - Num(before.Risk.at("price")), 400, 1e-9);
    int followed = 0;
    for (const auto& b : before.Rows) {
        const auto* a = Series(after, b.at("isin"));
        ASSERT_NE(a, nullptr);
        if (b.at("exchange_volat").empty() || b.at("delta").empty() || a->at("delta").empty() ||
            b.at("bid").empty() || a->at("bid").empty())
            continue;
        // Up 400 and five points dearer: calls gain, every smile point rises, and the greeks
        // are those of the new futures' price at the series' new volatility.
        EXPECT_GT(Num(a->at("exchange_volat")), Num(b.at("exchange_volat")) + 4) << b.at("isin");
        if (b.at("type") == "C") {
            EXPECT_GT(Num(a->at("bid")), Num(b.at("bid"))) << b.at("isin");
        }
        if (!a->at("iv_mid").empty()) {
            const options::TGreeks g = options::Black76Greeks(
                a->at("type") == "C" ? options::TRight::Call : options::TRight::Put,
                Num(after.Risk.at("price")), Num(a->at("strike")), Num(a->at("years")),
                Num(a->at("iv_mid")) / 100);
            EXPECT_NEAR(Num(a->at("delta")), g.Delta, 1e-9) << b.at("isin");
            EXPECT_NEAR(Num(a->at("vega")), g.Vega / 100, 1e-6) << b.at("isin");
        }
        ++followed;
    }
    EXPECT_GT(followed, 20);
}

} // namespace vorlen::e2e
