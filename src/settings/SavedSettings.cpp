#include "settings/SavedSettings.h"

#include "platform/Module.h"

namespace vorlen {

TDialogValues DefaultDialogValues() {
    TDialogValues v;
    v.RegKeyEdit = "SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate";
    v.RegRecordEdit = "InstallDir";
    v.CgateDllEdit = "cgate64.dll";
    v.RoutNameEdit = "P2MQRouter64.exe";
    v.RoutIniEdit = "client_router.ini";
    v.ServiceNameEdit = "SpectraCGate";
    v.MarketBox = kMarketFutures;
    v.SpinEdit1 = 1;
    v.RadioGroup1 = 0;
    v.SchemBox = false;
    v.FightBox = false;
    v.CGIniEdit = "p2cgate.ini";
    v.SubSysEdit = "mq,replclient";
    v.LogTypeEdit = "p2:p2syslog";
    v.LogLevelEdit = "trace";
    v.ProgKeyEdit = std::string(kDefaultProgKey);
    v.TypeConnEdit = std::string(kProtocolTcp);
    v.HostEdit = "127.0.0.1";
    v.PortEdit = "4001";
    v.ProgNameEdit = "vorlen";
    v.RoutTOutEdit = "2000";
    v.LocTOutEdit = "500";
    v.VersionEdit = "718";
    v.BuffSizeEdit = "1024000";
    v.ProtocolBox = false;
    v.CLTBox = true;
    return v;
}

TSavedSettings DefaultSavedSettings() {
    TSavedSettings settings;
    settings.Values = DefaultDialogValues();
    TStreamTree tree;
    tree.MarketBoxChange(settings.Values.MarketBox, settings.Values.RadioGroup1);
    settings.Nodes = tree.AllIndices();
    return settings;
}

std::string SavedFileName(int market) {
    switch (market) {
    case kMarketFutures:
        return "Forts.sav";
    case kMarketOptions:
        return "Options.sav";
    case kMarketCustom:
        return "Custom.sav";
    default:
        return ".sav";
    }
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path DefaultSavingDir() {
    return PathFromUtf8(platform::ExecutableDir()) / "saving";
}

} // namespace vorlen
