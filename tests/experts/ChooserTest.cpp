#include "experts/Chooser.h"

#include "TableData.h"

#include <gtest/gtest.h>

namespace vorlen {
namespace {

THeader H(std::int32_t id, const char* isin, const char* shortIsin, const char* name) {
    return THeader{id, isin, shortIsin, name};
}

TSpotHeader S(const char* smallName) {
    return TSpotHeader{1, smallName, smallName, smallName};
}

// Every row of the underlying-ticker table, through the whole lookup: a code with that prefix
// finds its spot entry; without the spot entry there is no underlying.
TEST(ChooserTickers, EveryPrefixOfTheTableGivesItsTicker) {
    const auto rows = test::ReadTableData("spot_tickers.tsv");
    ASSERT_EQ(rows.size(), 15u);
    for (const test::TDataRow& row : rows) {
        const std::string& prefix = row.at(0);
        const std::string& ticker = row.at(1);
        EXPECT_EQ(SpotTickerForPrefix(prefix), ticker) << prefix;
        const TSHeaders spot{S("LKOH"), S(ticker.c_str())};
        EXPECT_EQ(BaseAssetCode(prefix + "-6.26", spot), ticker) << prefix;
        EXPECT_EQ(BaseAssetCode(prefix + "-6.26", TSHeaders{S(prefix.c_str())}),
                  prefix == ticker ? ticker : "")
            << prefix;
    }
    // A prefix outside the table is its own ticker.
    EXPECT_EQ(SpotTickerForPrefix("LKOH"), "LKOH");
    EXPECT_EQ(BaseAssetCode("LKOH-6.26", TSHeaders{S("LKOH")}), "LKOH");
}

class Chooser : public ::testing::Test {
protected:
    THeaders fut{H(101, "GAZR-6.26", "GZM6", "Газпром"), H(102, "SBRF-6.26", "SRM6", "Сбербанк"),
                 H(103, "LKOH-6.26", "LKM6", "Лукойл")};
    THeaders opt{H(201, "Si-6.26M180626CA90000", "Si90000BF6", "Опцион Si"),
                 H(202, "GAZR-6.26M180626CA200", "GZ200BF6", "Опцион GAZR")};
    TSHeaders spot{S("GAZP"), S("SBER"), S("USD000UTSTOM"), S("VKCO"), S("TRNFP")};
};

TEST_F(Chooser, ThreeFuturesAndNoExpertOpenSelectsTheFirst) {
    TChooser ch(fut, opt, spot);
    EXPECT_EQ(ch.FCntLabel, "Всего: 3");
    EXPECT_EQ(ch.OCntLabel, "Всего: 2");
    ASSERT_EQ(ch.FutBox.Items.size(), 3u);
    EXPECT_EQ(ch.FutBox.Items[2], "LKOH-6.26");
    EXPECT_EQ(ch.FutBox.ItemIndex, -1);
    EXPECT_EQ(ch.Label1, "Код фьючерса: Не выбрано");

    ch.Preselect(0);
    EXPECT_EQ(ch.FutBox.ItemIndex, 0);
    EXPECT_EQ(ch.Label1, "Код фьючерса: GZM6");
    EXPECT_EQ(ch.Fisin_id, 101);
    EXPECT_EQ(ch.Fisin, "GAZR-6.26");
    EXPECT_EQ(ch.FName, "Газпром");
    EXPECT_EQ(ch.Sname, "GAZP");
    EXPECT_EQ(ch.Label2, "Код опциона: Si90000BF6");
    EXPECT_EQ(ch.Oisin_id, 201);
    // The option's underlying reaches the label, while the expert keeps the futures' one.
    EXPECT_EQ(ch.SharLabel, "Базовый актив: USD000UTSTOM");
    EXPECT_EQ(ch.Sname, "GAZP");
    EXPECT_EQ(ExpertCaption(ch.Fisin, ch.Sname, ch.Fisin_id), "GAZR-6.26(GAZP}-[101]");
}

TEST_F(Chooser, OneExpertOpenSelectsTheSecondOfEach) {
    TChooser ch(fut, opt, spot);
    ch.Preselect(1);
    EXPECT_EQ(ch.FutBox.ItemIndex, 1);
    EXPECT_EQ(ch.OptBox.ItemIndex, 1);
    EXPECT_EQ(ch.Fshort_isin, "SRM6");
    EXPECT_EQ(ch.Oshort_isin, "GZ200BF6");
    EXPECT_EQ(ch.Sname, "SBER");
    EXPECT_EQ(ch.SharLabel, "Базовый актив: GAZP");
}

TEST_F(Chooser, AnIndexBeyondTheListSelectsAndChangesNothing) {
    TChooser ch(fut, opt, spot);
    ch.Preselect(2); // a third option does not exist
    EXPECT_EQ(ch.Fisin, "LKOH-6.26");
    EXPECT_EQ(ch.OptBox.ItemIndex, -1);
    EXPECT_EQ(ch.Label2, "Код опциона: Не выбрано");
    EXPECT_EQ(ch.Oisin_id, 0);
    // LKOH has no spot entry: the label says so and there is no underlying.
    EXPECT_EQ(ch.SharLabel, "Базовый актив: Не найден");
    EXPECT_EQ(ch.Sname, "");

    TChooser later(fut, opt, spot);
    later.Preselect(7);
    EXPECT_EQ(later.Fisin_id, 0);
    EXPECT_EQ(later.SharLabel, "Базовый актив: Не выбрано");
}

// The earlier pick's underlying used to stay and named the new expert after the wrong ticker.
TEST_F(Chooser, FuturesWithoutUnderlyingHaveNoneRatherThanTheEarlierOne) {
    TChooser ch(fut, opt, spot);
    ch.SelectFut(0);
    ch.FutBoxChange();
    ch.SelectFut(2);
    ch.FutBoxChange();
    EXPECT_EQ(ch.Fisin, "LKOH-6.26");
    EXPECT_EQ(ch.SharLabel, "Базовый актив: Не найден");
    EXPECT_EQ(ch.Sname, "");
    EXPECT_EQ(ExpertCaption(ch.Fisin, ch.Sname, ch.Fisin_id), "LKOH-6.26(}-[103]");
}

// A typed code takes its futures; one that names none changes nothing and is refused.
TEST_F(Chooser, TypedCodesChooseTheirFuturesOrNothing) {
    const struct {
        const char* Text;
        bool Known;
        std::int32_t Id; // after the attempt; 101 is the preselected futures
    } cases[] = {
        {"SBRF-6.26", true, 102},  {"  LKOH-6.26 ", true, 103},
        {"sbrf-6.26", false, 101}, {"SBRF", false, 101},
        {"", false, 101},
    };
    for (const auto& c : cases) {
        TChooser ch(fut, opt, spot);
        ch.Preselect(0);
        EXPECT_EQ(ch.ChooseFutures(c.Text), c.Known) << c.Text;
        EXPECT_EQ(ch.Fisin_id, c.Id) << c.Text;
        EXPECT_EQ(ch.Sname, c.Id == 103 ? "" : c.Id == 102 ? "SBER" : "GAZP") << c.Text;
    }
    EXPECT_EQ(UnknownFuturesText("SBRF"), "Фьючерс \"SBRF\" не найден в списке инструментов.");
}

TEST_F(Chooser, EmptyListsLeaveTheBoxesAlone) {
    const THeaders none;
    TChooser ch(none, none, spot);
    EXPECT_EQ(ch.FCntLabel, "Всего: 0");
    EXPECT_EQ(ch.OCntLabel, "Всего: 0");
    EXPECT_EQ(ch.FutBox.Text, "FutBox");
    EXPECT_EQ(ch.OptBox.Text, "OptBox");
    ch.Preselect(0);
    EXPECT_EQ(ch.Label1, "Код фьючерса: Не выбрано");
    EXPECT_EQ(ch.SharLabel, "Базовый актив: Не выбрано");
}

TEST(BaseAssetCode, TickerTableAndSpotList) {
    const TSHeaders spot{S("VKCO"), S("TRNFP"), S("USD000UTSTOM"), S("LKOH"), S("GAZP")};
    EXPECT_EQ(BaseAssetCode("MAIL-3.26", spot), "VKCO");
    EXPECT_EQ(BaseAssetCode("TRNS-3.26", spot), "TRNFP");
    EXPECT_EQ(BaseAssetCode("TRNF-3.26", spot), "TRNFP");
    EXPECT_EQ(BaseAssetCode("Si-12.26", spot), "USD000UTSTOM");
    EXPECT_EQ(BaseAssetCode("LKOH-6.26", spot), "LKOH");
    EXPECT_EQ(BaseAssetCode("GAZR-6.26-x", spot), "GAZP"); // only the first "-" counts
    EXPECT_EQ(BaseAssetCode("GAZR6.26", spot), "");        // no "-" at all
    EXPECT_EQ(BaseAssetCode("gazr-6.26", spot), "");       // the table is case-sensitive
    EXPECT_EQ(BaseAssetCode("SBRF-6.26", spot), "");       // SBER is not listed
    EXPECT_EQ(BaseAssetCode("GAZR-6.26", {}), "");
    EXPECT_EQ(SpotTickerForPrefix("Eu"), "EUR_RUB__TOM");
    EXPECT_EQ(SpotTickerForPrefix("CNY"), "CNYRUB_TOM");
    EXPECT_EQ(SpotTickerForPrefix("YNDF"), "YNDX");
}

TEST(ExpertCaption, KeepsItsOddBrackets) {
    EXPECT_EQ(ExpertCaption("Si-12.26", "USD000UTSTOM", -5), "Si-12.26(USD000UTSTOM}-[-5]");
    EXPECT_EQ(ExpertCaption("", "", 0), "(}-[0]");
}

} // namespace
} // namespace vorlen
