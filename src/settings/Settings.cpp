#include "settings/Settings.h"

#include <algorithm>

namespace vorlen {

TSettingsModel::TSettingsModel() : Values(DefaultDialogValues()) {
    Tree.MarketBoxChange(Values.MarketBox, Values.RadioGroup1);
    SetProtocolBox(Values.ProtocolBox);
}

void TSettingsModel::SetMarket(int market) {
    SelectMarket(market);
    Tree.MarketBoxChange(Values.MarketBox, Values.RadioGroup1);
}

void TSettingsModel::SelectMarket(int market) {
    const bool known = market >= 0 && market < static_cast<int>(kMarketNames.size());
    Values.MarketBox = known ? market : kMarketNone;
}

void TSettingsModel::SetDepth(int depth) {
    const int value = std::clamp(depth, kDepthNone, static_cast<int>(kDepthItems.size()) - 1);
    if (value == Values.RadioGroup1) {
        return;
    }
    Values.RadioGroup1 = value;
    Tree.SelectBookDepth(value);
}

void TSettingsModel::SetSpin(int value) {
    Values.SpinEdit1 = std::clamp(value, 1, 100);
}

void TSettingsModel::SetProtocolBox(bool ticked) {
    Values.ProtocolBox = ticked;
    Values.TypeConnEdit = std::string(ticked ? kProtocolLrpcq : kProtocolTcp);
}

int TSettingsModel::StakanCnt(int current) const {
    const int depth = Values.RadioGroup1;
    if (depth < 0 || depth >= static_cast<int>(kDepthValues.size())) {
        return current;
    }
    return kDepthValues[static_cast<std::size_t>(depth)];
}

TSavedSettings TSettingsModel::Snapshot() const {
    return {Values, Tree.AllIndices()};
}

TSaveResult TSettingsModel::Save(const std::filesystem::path& savingDir) const {
    return SaveSettingsFile(savingDir, Snapshot());
}

TLoadResult TSettingsModel::Load(const std::filesystem::path& file) {
    return Apply(ReadSettingsFile(file, Tree.NodeCount()));
}

TLoadResult TSettingsModel::Apply(const TParsedSettings& parsed) {
    TLoadResult result;
    result.Status = parsed.Status;
    result.ErrorLine = parsed.ErrorLine;
    switch (parsed.Status) {
    case TLoadStatus::FileMissing:
        result.Kind = TMessageKind::Info;
        result.Caption = std::string(kSavedFileMissingCaption);
        result.Message = std::string(kSavedFileMissingText);
        return result;
    case TLoadStatus::FileUnreadable:
        result.Kind = TMessageKind::Error;
        result.Message = parsed.Error;
        return result;
    case TLoadStatus::TooFewLines:
        return result;
    case TLoadStatus::Loaded:
    case TLoadStatus::TreeLineMissing:
    case TLoadStatus::TreeLineMalformed:
        break;
    }

    // Plain texts are taken as they are; the choices, the spin and the protocol box go through
    // their controls' rules, and the two boxes not kept in the file keep their state.
    const TDialogValues& in = parsed.Values;
    const TDialogValues before = Values;
    Values = in;
    Values.MarketBox = before.MarketBox;
    Values.SpinEdit1 = before.SpinEdit1;
    Values.RadioGroup1 = before.RadioGroup1;
    Values.ProtocolBox = before.ProtocolBox;
    Values.CLTBox = before.CLTBox;

    SelectMarket(in.MarketBox);
    SetSpin(in.SpinEdit1);
    SetDepth(in.RadioGroup1);
    const bool protocolBox = in.TypeConnEdit != kProtocolTcp;
    if (protocolBox != Values.ProtocolBox) {
        SetProtocolBox(protocolBox);
    }

    Tree.BeginUpdate();
    const int count = std::min(static_cast<int>(parsed.Nodes.size()), Tree.NodeCount());
    for (int k = 0; k < count; ++k) {
        Tree.SetIndices(k, parsed.Nodes[static_cast<std::size_t>(k)]);
    }
    Tree.EndUpdate();

    if (parsed.Status != TLoadStatus::Loaded) {
        result.Kind = TMessageKind::Error;
        result.Message = parsed.Error;
    }
    return result;
}

} // namespace vorlen
