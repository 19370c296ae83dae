#include "main/console/BookDump.h"

#include "book/BookKeeper.h"

namespace vorlen {

namespace {

void Line(std::string& out, std::initializer_list<std::string_view> cells) {
    bool first = true;
    for (std::string_view c : cells) {
        out += first ? "" : "\t";
        out += TsvCell(c);
        first = false;
    }
    out += '\n';
}

void Level(std::string& out, std::string_view side, const TBookLevel& l) {
    Line(out, {side, NumberText(l.Price), std::to_string(l.Volume),
               l.Own > 0 ? std::to_string(l.Own) : std::string()});
}

// An instrument code as part of a file name: nothing in it may lead out of the dump folder.
std::string FileNamePart(const std::string& isin) {
    std::string out = isin;
    for (char& c : out)
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    if (out == "." || out == "..")
        out = "_";
    return out;
}

} // namespace

std::optional<std::int32_t> FindInstrument(const THeaders& fut, const THeaders& opt,
                                           const std::string& isin) {
    for (const THeaders* list : {&fut, &opt})
        for (const THeader& h : *list)
            if (h.isin == isin)
                return h.isin_id;
    return std::nullopt;
}

std::string BookTsv(const TBookSnapshot& book) {
    std::string out;
    if (book.Status == TBookStatus::NotSubscribed)
        return std::string(kBookNotSubscribedText) + "\n";
    if (book.Status == TBookStatus::Waiting)
        return std::string(kBookWaitingText) + "\n";
    Line(out, {"side", "price", "volume", "own"});
    for (auto it = book.Asks.rbegin(); it != book.Asks.rend(); ++it)
        Level(out, "ask", *it);
    for (const TBookLevel& l : book.Bids)
        Level(out, "bid", l);
    return out;
}

std::string PositionTsv(const TBookSnapshot& book) {
    std::string out;
    Line(out, {"client_code", "pos", "waprice", "mark", "open_pnl", "vm"});
    for (const TPositionRow& r : PositionRows(book))
        Line(out, {r.Client, r.Pos, r.AvgPrice, r.Mark, r.OpenPnl, r.VarMargin});
    return out;
}

std::vector<TDumpFile> CollectBookDump(const TBookKeeper& books, const std::string& isin,
                                       std::int32_t isin_id) {
    TBookSnapshot book;
    books.Snapshot(isin_id, book);
    const std::string name = FileNamePart(isin);
    return {{"book_" + name + ".tsv", BookTsv(book)},
            {"position_" + name + ".tsv", PositionTsv(book)}};
}

} // namespace vorlen
