#include "main/ApplySettings.h"

#include "connections/GatewayRecords.h"
#include "main/Dialogs.h"
#include "settings/ConnectorSettings.h"

#include <gtest/gtest.h>

namespace vorlen {
namespace {

class ApplySettingsTest : public ::testing::Test {
protected:
    ApplySettingsTest() {
        Targets.Settings = &S;
        Targets.RouterPath = [this](const std::string& key, const std::string& record) {
            AskedKey = key;
            AskedRecord = record;
            return RouterDir;
        };
        Targets.Listeners = &Listeners;
        Targets.SetStreams = [this](const std::vector<std::string>& names) { Streams = names; };
        Targets.SetCLTFut = [this](bool on) { StoreCLT = on; };
    }

    bool Apply() { return ApplyDialogValues(Dialog, "/app/", Targets); }

    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TSettingsModel Dialog;
    TConnectorSettings S{};
    TListeners Listeners;
    std::vector<std::string> Streams;
    std::optional<bool> StoreCLT;
    std::string RouterDir = "C:\\CGate\\bin\\";
    std::string AskedKey;
    std::string AskedRecord;
    TApplyTargets Targets;
};

TEST(Int64Text, ReadsSignedDecimalIntegersOnly) {
    EXPECT_TRUE(IsInt64Text("1024000"));
    EXPECT_TRUE(IsInt64Text("-5"));
    EXPECT_TRUE(IsInt64Text("+5"));
    EXPECT_TRUE(IsInt64Text("9223372036854775807"));
    EXPECT_TRUE(IsInt64Text("-9223372036854775808"));
    EXPECT_FALSE(IsInt64Text("9223372036854775808"));
    EXPECT_FALSE(IsInt64Text("1024000x"));
    EXPECT_FALSE(IsInt64Text(""));
    EXPECT_FALSE(IsInt64Text("+"));
    EXPECT_FALSE(IsInt64Text("+-5"));
    EXPECT_FALSE(IsInt64Text("1 024"));
    EXPECT_FALSE(IsInt64Text("1.5"));
}

TEST_F(ApplySettingsTest, DefaultsFillTheRecordAndTheTwelveDefaultListeners) {
    ASSERT_TRUE(Apply());
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_TRUE(S.isSet);
    EXPECT_EQ(AskedKey, "SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate");
    EXPECT_EQ(AskedRecord, "InstallDir");
    EXPECT_EQ(S.appPath, "/app/");
    EXPECT_EQ(S.RoutPath, RouterDir);
    EXPECT_EQ(S.CGDLLName, "cgate64.dll");
    EXPECT_EQ(S.RoutName, "P2MQRouter64.exe");
    EXPECT_EQ(S.RoutIniName, "client_router.ini");
    EXPECT_EQ(S.ServName, "SpectraCGate");
    EXPECT_EQ(S.Market, 0);
    EXPECT_EQ(S.TrSpeed, 30U);
    EXPECT_EQ(S.StakanCnt, 5);
    EXPECT_EQ(S.CGIniFileName, "p2cgate.ini");
    EXPECT_EQ(S.SubSys, "mq,replclient");
    EXPECT_EQ(S.LogType, "p2:p2syslog");
    EXPECT_EQ(S.LogMinLevel, "trace");
    EXPECT_EQ(S.ProgKey.size(), 8U);
    EXPECT_EQ(S.ConType, "p2tcp");
    EXPECT_EQ(S.Host, "127.0.0.1");
    EXPECT_EQ(S.Port, "4001");
    EXPECT_EQ(S.ProgName, "vorlen");
    EXPECT_EQ(S.RoutTOut, "2000");
    EXPECT_EQ(S.LocTOut, "500");
    EXPECT_EQ(S.Version, "718");
    EXPECT_EQ(S.BuffSize, "1024000");
    EXPECT_FALSE(S.UseScheme);
    EXPECT_FALSE(S.IsScheme);
    EXPECT_FALSE(S.Fight);
    EXPECT_TRUE(S.CLTFut);
    EXPECT_EQ(StoreCLT, true);

    ASSERT_EQ(Listeners.size(), 12U);
    ASSERT_EQ(Streams.size(), 12U);
    EXPECT_EQ(Listeners[0].Settings, "p2repl://FORTS_FEE_REPL;tables=adjusted_fee,penalty");
    EXPECT_EQ(Listeners[11].Settings, "p2repl://FORTS_PROHIBITION_REPL;tables=prohibition");
    EXPECT_EQ(Streams[7], "FORTS_TRADE_REPL");
}

TEST_F(ApplySettingsTest, WithoutARouterFolderNothingElseIsCopied) {
    RouterDir.clear();
    S.Host = "kept";
    EXPECT_FALSE(Apply());
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Не получен путь к роутеру!"});
    EXPECT_EQ(S.appPath, "/app/");
    EXPECT_EQ(S.RoutPath, "");
    EXPECT_EQ(S.Host, "kept");
    EXPECT_TRUE(S.RegKey.empty());
    EXPECT_FALSE(S.isSet);
    EXPECT_TRUE(Listeners.empty());
}

TEST_F(ApplySettingsTest, BufferSizeIsCheckedAfterTheOtherValuesAreCopied) {
    Dialog.Values.BuffSizeEdit = "1024000x";
    Dialog.Values.CLTBox = false;
    S.CLTFut = true;
    EXPECT_FALSE(Apply());
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Не правильно введен \"Размер буфера\" в настройках!"});
    EXPECT_EQ(S.Host, "127.0.0.1");
    EXPECT_EQ(S.Version, "718");
    EXPECT_FALSE(S.CLTFut);
    EXPECT_TRUE(S.BuffSize.empty());
    EXPECT_FALSE(S.isSet);
    EXPECT_TRUE(Listeners.empty());

    Boxes.Clear();
    Dialog.Values.BuffSizeEdit = "-5";
    EXPECT_TRUE(Apply());
    EXPECT_EQ(S.BuffSize, "-5");
}

TEST_F(ApplySettingsTest, ProductionCircuitTakesNoKeyAndSpinScalesBy30) {
    Dialog.Values.FightBox = true;
    Dialog.SetSpin(100);
    ASSERT_TRUE(Apply());
    EXPECT_FALSE(Dialog.Values.ProgKeyEdit.empty());
    EXPECT_TRUE(S.Fight);
    EXPECT_EQ(S.ProgKey, "");
    EXPECT_EQ(S.TrSpeed, 3000U);
}

TEST_F(ApplySettingsTest, CltBoxUntickedAfterAnEarlierTickedApplyStoresFalse) {
    ASSERT_TRUE(Apply());
    ASSERT_TRUE(S.CLTFut);
    Dialog.Values.CLTBox = false;
    ASSERT_TRUE(Apply());
    EXPECT_FALSE(S.CLTFut);
    EXPECT_EQ(StoreCLT, false);
}

TEST_F(ApplySettingsTest, DepthAndSchemeModeReachTheRecord) {
    Dialog.SetDepth(2);
    Dialog.Values.SchemBox = true;
    ASSERT_TRUE(Apply());
    EXPECT_EQ(S.StakanCnt, 50);
    EXPECT_TRUE(S.UseScheme);
    EXPECT_TRUE(S.IsScheme);
    for (const auto& l : Listeners)
        EXPECT_NE(l.Settings.find("scheme=|FILE|"), std::string::npos) << l.Settings;

    // No depth chosen keeps the earlier one.
    Dialog.SetDepth(-1);
    ASSERT_TRUE(Apply());
    EXPECT_EQ(S.StakanCnt, 50);
}

TEST_F(ApplySettingsTest, TooManyStreamsRefuseAndKeepTheOldListeners) {
    ASSERT_TRUE(Apply());
    const TListeners before = Listeners;
    S.isSet = false;
    // Tick every enabled stream of the custom selection: more than 20.
    Dialog.SetMarket(kMarketCustom);
    for (int node = 0; node < Dialog.Tree.NodeCount(); ++node)
        if (Dialog.Tree.Node(node).Level == TNodeLevel::Stream && Dialog.Tree.Enabled(node) &&
            !Dialog.Tree.IsTicked(node))
            Dialog.Tree.ClickPicture(node);
    EXPECT_FALSE(Apply());
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Превышен лимит потоков в одном соединении!"});
    EXPECT_FALSE(S.isSet);
    ASSERT_EQ(Listeners.size(), before.size());
    EXPECT_EQ(Listeners[0].Settings, before[0].Settings);
    EXPECT_EQ(Streams.size(), before.size());
}

// Names from a hostile or damaged settings file: each is refused with its own box, the record
// stays unset and no listener is built, so nothing is started or loaded after it.
TEST_F(ApplySettingsTest, RefusesRouterAndLibraryNamesThatAreNotPlainFileNames) {
    const std::vector<std::string> bad = {
        R"(../../../../bin/sh" -c "id > /tmp/x" ")",
        "P2MQRouter64.exe\" -c \"id\"",
        R"(P2MQRouter64.exe\" x)",
        "P2MQRouter64.exe\n-c",
        "a;b\x01",
        "..",
        "../P2MQRouter64.exe",
        R"(sub\P2MQRouter64.exe)",
        "/bin/sh",
        "C:P2MQRouter64.exe",
        "",
    };
    for (const bool router : {true, false}) {
        for (const std::string& name : bad) {
            TConnectorSettings fresh{};
            S = fresh;
            Listeners = {};
            Boxes.Calls.clear();
            Dialog = TSettingsModel{};
            (router ? Dialog.Values.RoutNameEdit : Dialog.Values.CgateDllEdit) = name;
            EXPECT_FALSE(Apply()) << name;
            EXPECT_FALSE(S.isSet);
            EXPECT_TRUE(Listeners.empty());
            const std::string text(router ? kBadRouterNameText : kBadLibraryNameText);
            EXPECT_EQ(Boxes.Calls, (std::vector<TDialogCall>{{TDialogKind::Error, text}})) << name;
        }
    }
    // Shell syntax without a path, a mark or a control character is only an odd file name.
    Dialog = TSettingsModel{};
    Dialog.Values.RoutNameEdit = "router; $(id).exe";
    Boxes.Calls.clear();
    EXPECT_TRUE(Apply());
}

TEST_F(ApplySettingsTest, RefusesAnInstallationFolderWithAQuotationMark) {
    RouterDir = R"(C:\Gate" /c "calc\bin\)";
    EXPECT_FALSE(Apply());
    EXPECT_FALSE(S.isSet);
    EXPECT_EQ(Boxes.Calls,
              (std::vector<TDialogCall>{{TDialogKind::Error, std::string(kQuotedInstallDirText)}}));
}

} // namespace
} // namespace vorlen
