#pragma once

// The instrument chooser's logic: which futures and option the user picked, the short codes and
// underlying ticker shown for them, and the caption of the expert window that follows. The
// dialog itself only mirrors this state into its controls. These files were Shoose.*.

#include "store/StoreRecords.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

inline constexpr std::string_view kChooserCaption = "Выбор фьючерса, опциона и акции";

// The spot ticker that a futures or option code prefix stands for; a prefix the table does not
// know stands for itself (LKOH stays LKOH).
std::string_view SpotTickerForPrefix(std::string_view prefix);

// The underlying spot ticker of an instrument code, or empty when the code has no "-" or no
// spot instrument of that ticker is listed.
std::string BaseAssetCode(std::string_view code, const TSHeaders& spot);

// The refusal of a typed futures code that names no listed futures.
std::string UnknownFuturesText(std::string_view text);

// Caption of a new expert window; an expert for the same caption is refused as a duplicate.
std::string ExpertCaption(std::string_view Fisin, std::string_view Sname, std::int32_t Fisin_id);

// A drop-down list as the chooser sees it. ItemIndex -1 means nothing is selected.
struct TChooserBox {
    std::vector<std::string> Items;
    int ItemIndex = -1;
    std::string Text;
};

class TChooser {
public:
    // Builds the dialog's state from the main window's lists (which it reads, never changes)
    // and fills the boxes as the dialog's creation does.
    TChooser(const THeaders& fut, const THeaders& opt, const TSHeaders& spot);

    // Selecting an index outside the list selects nothing.
    void SelectFut(int index) { Select(FutBox, index); }
    void SelectOpt(int index) { Select(OptBox, index); }
    void FutBoxChange();
    void OptBoxChange();
    // The main window's preselection: the n-th expert starts from the n-th instrument of each
    // list, `openExperts` being the number of expert windows already open.
    void Preselect(int openExperts);

    std::string BaseAssetCode(std::string_view code) const;

    // The futures whose code is `text` (blanks around it aside), selected and taken as
    // FutBoxChange takes it. False, changing nothing, when no futures has that code: a typed
    // text that names no instrument must not leave the earlier choice in force.
    bool ChooseFutures(std::string_view text);

    TChooserBox FutBox{{}, -1, "FutBox"};
    TChooserBox OptBox{{}, -1, "OptBox"};
    std::string FCntLabel = "Всего: ";
    std::string OCntLabel = "Всего: ";
    std::string Label1 = "Код фьючерса: Не выбрано";
    std::string Label2 = "Код опциона: Не выбрано";
    std::string SharLabel = "Базовый актив: Не выбрано";

    std::int32_t Fisin_id = 0;
    std::int32_t Oisin_id = 0;
    std::int32_t Sbond_id = 0;
    std::string Fshort_isin;
    std::string Oshort_isin;
    std::string Sshort_isin;
    std::string Fisin;
    std::string Oisin;
    std::string Ssmall_name;
    std::string FName;
    std::string OName;
    std::string Sname;

private:
    void FormCreate();
    static void Fill(TChooserBox& box, std::string& counter, const THeaders& headers);
    static void Select(TChooserBox& box, int index);
    // The entry behind the box's selection, or null when nothing valid is selected.
    static const THeader* Selected(const TChooserBox& box, const THeaders& headers);
    void ShowUnderlying(const std::string& base);

    const THeaders& FFut;
    const THeaders& FOpt;
    const TSHeaders& FSpot;
};

} // namespace vorlen
