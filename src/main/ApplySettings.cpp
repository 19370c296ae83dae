#include "main/ApplySettings.h"

#include "main/Dialogs.h"
#include "main/Subscriptions.h"
#include "platform/Module.h"

#include <charconv>
#include <cstdint>

namespace vorlen {

bool IsInt64Text(std::string_view text) {
    if (text.empty())
        return false;
    std::size_t start = 0;
    // from_chars takes a minus sign but not a plus sign.
    if (text.front() == '+') {
        start = 1;
        if (text.size() == 1 || text[1] == '-')
            return false;
    }
    std::int64_t value = 0;
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc{} && end == last;
}

bool ApplyDialogValues(const TSettingsModel& dialog, const std::string& appPath,
                       const TApplyTargets& targets) {
    TConnectorSettings& s = *targets.Settings;
    const TDialogValues& v = dialog.Values;

    s.appPath = appPath;
    s.RoutPath = targets.RouterPath ? targets.RouterPath(v.RegKeyEdit, v.RegRecordEdit) : "";
    if (s.RoutPath.empty()) {
        ShowError(std::string(kNoRouterPathText));
        return false;
    }
    if (s.RoutPath.find('"') != std::string::npos) {
        ShowError(std::string(kQuotedInstallDirText));
        return false;
    }
    if (!platform::IsPlainFileName(v.RoutNameEdit)) {
        ShowError(std::string(kBadRouterNameText));
        return false;
    }
    if (!platform::IsPlainFileName(v.CgateDllEdit)) {
        ShowError(std::string(kBadLibraryNameText));
        return false;
    }

    s.RegKey = v.RegKeyEdit;
    s.RegRecord = v.RegRecordEdit;
    s.ServName = v.ServiceNameEdit;
    s.CGDLLName = v.CgateDllEdit;
    s.RoutName = v.RoutNameEdit;
    s.RoutIniName = v.RoutIniEdit;
    s.Market = v.MarketBox;
    s.TrSpeed = dialog.TrSpeed();
    s.StakanCnt = dialog.StakanCnt(s.StakanCnt);
    s.IsScheme = v.SchemBox;
    s.Fight = v.FightBox;
    s.CGIniFileName = v.CGIniEdit;
    s.SubSys = v.SubSysEdit;
    s.LogType = v.LogTypeEdit;
    s.LogMinLevel = v.LogLevelEdit;
    // The production circuit takes no program key, whatever the key edit still shows.
    s.ProgKey = s.Fight ? std::string() : v.ProgKeyEdit;
    s.ConType = v.TypeConnEdit;
    s.Host = v.HostEdit;
    s.Port = v.PortEdit;
    s.ProgName = v.ProgNameEdit;
    s.RoutTOut = v.RoutTOutEdit;
    s.LocTOut = v.LocTOutEdit;
    s.Version = v.VersionEdit;

    const bool buffSizeOk = IsInt64Text(v.BuffSizeEdit);
    s.CLTFut = v.CLTBox;
    if (!buffSizeOk) {
        ShowError(std::string(kBadBufferSizeText));
        return false;
    }
    s.BuffSize = v.BuffSizeEdit;
    s.UseScheme = v.SchemBox;

    TSubscriptionBuild build = BuildSubscription(dialog.Tree, s.UseScheme);
    if (!build.Error.empty())
        ShowError(build.Error);
    TListeners unused;
    TListeners& listeners = targets.Listeners != nullptr ? *targets.Listeners : unused;
    const auto setStreams = [&targets](const std::vector<std::string>& names) {
        if (targets.SetStreams)
            targets.SetStreams(names);
    };
    if (!CommitSubscription(std::move(build), listeners, setStreams))
        return false;

    if (targets.SetCLTFut)
        targets.SetCLTFut(s.CLTFut);
    s.isSet = true;
    return true;
}

} // namespace vorlen
