#include "experts/Chooser.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vorlen {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 15> kSpotTickers{{
    {"GAZR", "GAZP"},
    {"SBRF", "SBER"},
    {"SBPR", "SBERP"},
    {"TRNF", "TRNFP"},
    {"TRNS", "TRNFP"},
    {"NOTK", "NVTK"},
    {"MTSI", "MTSS"},
    {"SNGP", "SNGSP"},
    {"SNGR", "SNGS"},
    {"TCSI", "TCSG"},
    {"YNDF", "YNDX"},
    {"MAIL", "VKCO"},
    {"Eu", "EUR_RUB__TOM"},
    {"CNY", "CNYRUB_TOM"},
    {"Si", "USD000UTSTOM"},
}};

} // namespace

std::string_view SpotTickerForPrefix(std::string_view prefix) {
    for (const auto& [code, ticker] : kSpotTickers)
        if (code == prefix)
            return ticker;
    return prefix;
}

std::string BaseAssetCode(std::string_view code, const TSHeaders& spot) {
    const auto dash = code.find('-');
    if (dash == std::string_view::npos)
        return {};
    std::string_view ticker = code.substr(0, dash);
    if (!ticker.empty())
        ticker = SpotTickerForPrefix(ticker);
    for (const auto& entry : spot)
        if (entry.small_name == ticker)
            return std::string(ticker);
    return {};
}

std::string ExpertCaption(std::string_view Fisin, std::string_view Sname, std::int32_t Fisin_id) {
    std::string caption(Fisin);
    caption += "(";
    caption += Sname;
    caption += "}-";
    caption += "[";
    caption += std::to_string(Fisin_id);
    caption += "]";
    return caption;
}

TChooser::TChooser(const THeaders& fut, const THeaders& opt, const TSHeaders& spot)
    : FFut(fut), FOpt(opt), FSpot(spot) {
    FormCreate();
}

void TChooser::FormCreate() {
    Fill(FutBox, FCntLabel, FFut);
    Fill(OptBox, OCntLabel, FOpt);
}

void TChooser::Fill(TChooserBox& box, std::string& counter, const THeaders& headers) {
    if (headers.empty()) {
        counter = "Всего: 0";
        return;
    }
    box.Items.clear();
    box.ItemIndex = -1;
    box.Text.clear();
    counter = "Всего: " + std::to_string(headers.size());
    box.Items.reserve(headers.size());
    for (const auto& h : headers)
        box.Items.push_back(h.isin);
}

void TChooser::Select(TChooserBox& box, int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < box.Items.size()) {
        box.ItemIndex = index;
        box.Text = box.Items[static_cast<std::size_t>(index)];
    } else {
        box.ItemIndex = -1;
    }
}

const THeader* TChooser::Selected(const TChooserBox& box, const THeaders& headers) {
    if (box.Items.empty() || box.ItemIndex < 0)
        return nullptr;
    const auto k = static_cast<std::size_t>(box.ItemIndex);
    // The box and the list are filled together, but the list belongs to the main window; an
    // index the list no longer covers is treated as no selection rather than read past its end.
    if (k >= box.Items.size() || k >= headers.size())
        return nullptr;
    return &headers[k];
}

void TChooser::ShowUnderlying(const std::string& base) {
    SharLabel = base.empty() ? std::string("Базовый актив: Не найден") : "Базовый актив: " + base;
}

void TChooser::FutBoxChange() {
    const THeader* e = Selected(FutBox, FFut);
    if (e == nullptr)
        return;
    Fisin_id = e->isin_id;
    Fshort_isin = e->short_isin;
    Fisin = e->isin;
    FName = e->name;
    Label1 = "Код фьючерса: " + Fshort_isin;
    // The underlying is this futures' own or none: an earlier pick's ticker would put the
    // wrong underlying into the new expert's caption.
    Sname = BaseAssetCode(e->isin);
    ShowUnderlying(Sname);
}

bool TChooser::ChooseFutures(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    const auto it = std::find(FutBox.Items.begin(), FutBox.Items.end(), text);
    if (text.empty() || it == FutBox.Items.end())
        return false;
    SelectFut(static_cast<int>(it - FutBox.Items.begin()));
    FutBoxChange();
    return true;
}

std::string UnknownFuturesText(std::string_view text) {
    return "Фьючерс \"" + std::string(text) + "\" не найден в списке инструментов.";
}

void TChooser::OptBoxChange() {
    const THeader* e = Selected(OptBox, FOpt);
    if (e == nullptr)
        return;
    Oisin_id = e->isin_id;
    Oshort_isin = e->short_isin;
    Oisin = e->isin;
    OName = e->name;
    Label2 = "Код опциона: " + Oshort_isin;
    // Only the label follows the option: the expert trades the futures' underlying.
    ShowUnderlying(BaseAssetCode(e->isin));
}

void TChooser::Preselect(int openExperts) {
    SelectFut(openExperts);
    FutBoxChange();
    SelectOpt(openExperts);
    OptBoxChange();
}

std::string TChooser::BaseAssetCode(std::string_view code) const {
    return vorlen::BaseAssetCode(code, FSpot);
}

} // namespace vorlen
