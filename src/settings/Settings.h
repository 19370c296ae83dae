#pragma once

// The settings dialog without its window: the values of its controls, the stream tree, and the
// rules that tie them together (market preset, depth choice, protocol text, saving and loading).
// The window shows `Values` and `Tree`, writes plain texts into `Values` directly, and routes
// every change that carries a rule through the operations below.

#include "settings/SavedSettings.h"
#include "settings/StreamTree.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace vorlen {

enum class TMessageKind { None, Info, Error };

// The dialog's speed control counts in steps of this many transactions per second.
inline constexpr unsigned kTrSpeedStep = 30;

struct TLoadResult {
    TLoadStatus Status = TLoadStatus::Loaded;
    TMessageKind Kind = TMessageKind::None;
    std::string Caption; // for Info; errors take the usual error caption
    std::string Message;
    int ErrorLine = -1;
};

class TSettingsModel {
public:
    // The dialog as it opens: default values, FUTURES at depth 5, protocol text "p2tcp".
    TSettingsModel();

    TDialogValues Values;
    TStreamTree Tree;

    // The user picks a market: its preset replaces every tick in the tree.
    void SetMarket(int market);
    // The program picks a market (loading a file): no preset runs. An index that names no item
    // leaves nothing chosen (-1).
    void SelectMarket(int market);
    // The depth choice, held to -1..2; a change re-runs the depth rule, the same value does
    // nothing.
    void SetDepth(int depth);
    // The spin's value, held to 1..100.
    void SetSpin(int value);
    // The protocol box and, following it, the protocol text.
    void SetProtocolBox(bool ticked);

    // The order-book depth (5, 20, 50) of the current choice, or `current` when nothing is chosen.
    int StakanCnt(int current) const;
    // Order posts per time window.
    unsigned TrSpeed() const { return static_cast<unsigned>(Values.SpinEdit1) * kTrSpeedStep; }

    TSavedSettings Snapshot() const;
    TSaveResult Save(const std::filesystem::path& savingDir) const;
    TLoadResult Load(const std::filesystem::path& file);
    // Applies what a file held: values in line order, then the node states in one tree update,
    // as far as the file's tree lines go.
    TLoadResult Apply(const TParsedSettings& parsed);
};

} // namespace vorlen
