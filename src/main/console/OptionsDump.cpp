#include "main/console/OptionsDump.h"

#include "book/Book.h"
#include "options/BoardSource.h"
#include "store/FieldConversion.h"

#include <chrono>

namespace vorlen {

namespace {

std::string Cell(const std::optional<double>& v) {
    return v ? NumberText(*v) : std::string();
}

std::string Percent(const options::TIvResult& iv) {
    return iv.Vol ? NumberText(*iv.Vol * 100) : std::string();
}

std::string_view SourceName(options::TPriceSource s) {
    switch (s) {
    case options::TPriceSource::Mid:
        return "mid";
    case options::TPriceSource::Last:
        return "last";
    case options::TPriceSource::None:
        break;
    }
    return "none";
}

} // namespace

std::string OptionsTsv(const options::TBoard& board, const std::string& underlying) {
    std::string out = "isin\tstrike\ttype\texpiry\tyears\tunderlying\tbid\task\tiv_bid\tiv_ask\t"
                      "iv_mid\tdelta\tgamma\tvega\ttheta\texchange_volat\tposition\n";
    for (const options::TSeriesRow& r : board.Rows) {
        const bool greeks = r.GreeksVol.has_value();
        out += TsvCell(r.In.Isin) + '\t' + NumberText(r.In.Strike) + '\t' +
               (r.In.Right == options::TRight::Call ? "C" : "P") + '\t' +
               ValueToStr(TValue(TDateTime{r.In.ExpiryDays})) + '\t' + NumberText(r.Years) + '\t' +
               TsvCell(underlying) + '\t' + Cell(r.In.Bid) + '\t' + Cell(r.In.Ask) + '\t' +
               Percent(r.IvBid) + '\t' + Percent(r.IvAsk) + '\t' + Percent(r.IvMid) + '\t' +
               (greeks ? NumberText(r.Greeks.Delta) : "") + '\t' +
               (greeks ? NumberText(r.Greeks.Gamma) : "") + '\t' +
               (greeks ? NumberText(r.Greeks.Vega / 100) : "") + '\t' +
               (greeks ? NumberText(r.Greeks.Theta) : "") + '\t' + Cell(r.In.ExchangeVolat) + '\t' +
               std::to_string(r.In.Position) + '\n';
    }
    return out;
}

std::string OptionsRiskTsv(const options::TBoard& board, const std::string& underlying) {
    return "underlying\tprice\tprice_source\tdelta\tgamma\tvega\ttheta\tunpriced\n" +
           TsvCell(underlying) + '\t' + Cell(board.Forward) + '\t' +
           std::string(SourceName(board.Source)) + '\t' + NumberText(board.Risk.Delta) + '\t' +
           NumberText(board.Risk.Gamma) + '\t' + NumberText(board.Risk.Vega) + '\t' +
           NumberText(board.Risk.Theta) + '\t' + std::to_string(board.Risk.Unpriced) + '\n';
}

std::vector<TDumpFile> CollectOptionsDump(TCGStorage& store, const TBookKeeper& books,
                                          const std::string& isin, std::string& error) {
    const options::TBoardSource source = options::ReadBoardSource(store, books, isin);
    if (!source.Found) {
        error = "--options: no futures " + isin + " in the futures' reference table";
        if (!source.Missing.empty()) {
            error += " (" + options::MissingText(source.Missing) + ")";
        }
        return {};
    }
    // The board is written all the same: what is missing shows as empty cells.
    error = options::MissingText(source.Missing);
    const options::TBoard board =
        options::ComputeBoard(source.Input, std::chrono::system_clock::now());
    return {{"options_" + isin + ".tsv", OptionsTsv(board, isin)},
            {"options_risk_" + isin + ".tsv", OptionsRiskTsv(board, isin)}};
}

} // namespace vorlen
