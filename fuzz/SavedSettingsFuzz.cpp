// Feeds arbitrary bytes to the saved-settings reader as a file the user picked, and applies what
// it reads to a dialog, as loading does.

#include "settings/SavedSettings.h"
#include "settings/Settings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // Building a dialog runs the whole preset; copying one is far cheaper.
    static const vorlen::TSettingsModel opened;
    vorlen::TSettingsModel model = opened;
    const vorlen::TParsedSettings parsed =
        vorlen::ParseSavedSettings(bytes, model.Tree.NodeCount());

    // Whatever the file, the reader's answer must be coherent.
    const bool stopped = parsed.Status == vorlen::TLoadStatus::TreeLineMissing ||
                         parsed.Status == vorlen::TLoadStatus::TreeLineMalformed;
    if (stopped != (parsed.ErrorLine >= 0) || stopped == parsed.Error.empty() ||
        parsed.Nodes.size() > static_cast<std::size_t>(model.Tree.NodeCount())) {
        std::abort();
    }

    model.Apply(parsed);
    if (model.Values.SpinEdit1 < 1 || model.Values.SpinEdit1 > 100 ||
        model.Values.RadioGroup1 < -1 || model.Values.RadioGroup1 > 2 ||
        model.Values.MarketBox < -1 || model.Values.MarketBox > 2) {
        std::abort();
    }

    // What was loaded can be saved and reads back the same.
    const vorlen::TParsedSettings again = vorlen::ParseSavedSettings(
        vorlen::FormatSavedSettings(model.Snapshot()), model.Tree.NodeCount());
    if (again.Status != vorlen::TLoadStatus::Loaded || again.Nodes != model.Tree.AllIndices()) {
        std::abort();
    }
    vorlen::TSettingsModel reloaded = opened;
    reloaded.Apply(again);
    if (!(reloaded.Values == model.Values)) {
        std::abort();
    }
    return 0;
}
