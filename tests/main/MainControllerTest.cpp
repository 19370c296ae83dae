#include "main/MainController.h"

#include "main/Dialogs.h"
#include "main/FakePort.h"
#include "orders/OrderDesk.h"
#include "orders/ScriptedTransport.h"

#include <deque>
#include <gtest/gtest.h>

namespace vorlen {
namespace {

using test::FakePortFactory;
using test::Header;
using test::TFakePort;
using test::TPortLog;
using test::TPortScript;

class TFakeWindow final : public TExpertWindowPort {
public:
    TFakeWindow(std::string caption, std::shared_ptr<TPortLog> log)
        : FCaption(std::move(caption)), FLog(std::move(log)) {}
    std::string Caption() const override { return FCaption; }
    void SetupExpert(std::int32_t isin_id, const std::string& futName,
                     const std::string& futIsin) override {
        Isin = isin_id;
        Name = futName;
        Code = futIsin;
    }
    bool RegisterAndStart() override {
        Started = true;
        return true;
    }
    void StopExpert() override { FLog->Calls.push_back("StopExpert " + FCaption); }
    void ShowStale(bool stale, const std::string& text) override {
        Stale = stale;
        StaleText = text;
    }
    bool StrategyRunning() const override { return Running; }

    std::int32_t Isin = 0;
    std::string Name;
    std::string Code;
    bool Started = false;
    bool Running = false;
    bool Stale = false;
    std::string StaleText;

private:
    std::string FCaption;
    std::shared_ptr<TPortLog> FLog;
};

class TFakeView final : public TMainView {
public:
    explicit TFakeView(std::shared_ptr<TPortLog> log) : Log(std::move(log)) {}

    TJournalSink& Journal() override { return Memo; }
    void ClearJournal() override { Memo.Lines.clear(); }
    void SetupGrids() override { GridsSetUp = true; }
    std::array<TGridSink*, kGridCount> Grids() override { return {}; }
    void ArmTimer() override { TimerArmed = true; }
    void DisarmTimer() override { TimerArmed = false; }
    void ShowControls(const TMainControls& controls) override { Shown = controls; }
    void ShowHealth(const THealthView& view) override { Health = view; }
    std::unique_ptr<TSettingsModel> RunSettingsDialog() override {
        ++SettingsDialogs;
        const bool apply = !SettingsAnswers.empty() && SettingsAnswers.front();
        if (!SettingsAnswers.empty())
            SettingsAnswers.pop_front();
        if (!apply)
            return nullptr;
        auto model = std::make_unique<TSettingsModel>();
        if (EditSettings)
            EditSettings(*model);
        return model;
    }
    bool RunChooser(TChooser& chooser) override {
        ChooserFut = chooser.FutBox.ItemIndex;
        ChooserOpt = chooser.OptBox.ItemIndex;
        if (PickFut >= 0) {
            chooser.SelectFut(PickFut);
            chooser.FutBoxChange();
        }
        return ChooserAnswer;
    }
    std::vector<TExpertWindowPort*> ExpertWindows() override {
        std::vector<TExpertWindowPort*> windows;
        for (auto& w : Windows)
            windows.push_back(w.get());
        return windows;
    }
    TExpertWindowPort* OpenExpertWindow(const std::string& caption) override {
        Windows.push_back(std::make_unique<TFakeWindow>(caption, Log));
        return Windows.back().get();
    }
    void StopStrategies() override { ++StrategiesStopped; }

    std::shared_ptr<TPortLog> Log;
    TMemoryJournal Memo;
    bool GridsSetUp = false;
    bool TimerArmed = false;
    TMainControls Shown;
    THealthView Health;
    int SettingsDialogs = 0;
    std::deque<bool> SettingsAnswers;
    std::function<void(TSettingsModel&)> EditSettings;
    int ChooserFut = -2;
    int ChooserOpt = -2;
    bool ChooserAnswer = true;
    int PickFut = -1;
    int StrategiesStopped = 0;
    std::vector<std::unique_ptr<TFakeWindow>> Windows;
};

class MainControllerTest : public ::testing::Test {
protected:
    void Create(TPortScript script = {}) {
        Controller = std::make_unique<TMainController>(
            View, FakePortFactory(std::move(script), Log, &Port), "/opt/vorlen/");
        Controller->FormCreate();
    }
    // Start-up with the settings applied and the gateway loaded.
    void Ready(TPortScript script = {}) {
        Create(std::move(script));
        View.SettingsAnswers = {true};
        Controller->Timer1Timer();
        ASSERT_TRUE(Port->S.isSet);
    }

    std::shared_ptr<TPortLog> Log = std::make_shared<TPortLog>();
    TScriptedDialogs Boxes;
    TScopedDialogs Installed{Boxes};
    TFakeView View{Log};
    TFakePort* Port = nullptr;
    std::unique_ptr<TMainController> Controller;
};

TEST(Hints, ShortAndLongParts) {
    EXPECT_EQ(ShortHint("Эксперт|Создать нового эксперта"), "Эксперт");
    EXPECT_EQ(LongHint("Эксперт|Создать нового эксперта"), "Создать нового эксперта");
    EXPECT_EQ(ShortHint("Настройки программы"), "Настройки программы");
    EXPECT_EQ(LongHint("Настройки программы"), "Настройки программы");
    EXPECT_EQ(LongHint(""), "");
}

TEST_F(MainControllerTest, StartsWithOnlySettingsExitAndWindowCommandsReachable) {
    View.Memo.Lines = {"left over"};
    Create();
    EXPECT_TRUE(View.Memo.Lines.empty());
    EXPECT_TRUE(View.GridsSetUp);
    EXPECT_TRUE(View.TimerArmed);
    EXPECT_EQ(View.Shown, TMainControls{});
    EXPECT_FALSE(View.Shown.Connect1);
    EXPECT_TRUE(View.Shown.Settings1);
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(MainControllerTest, WithoutAConnectorOnlyClosingWorks) {
    Controller = std::make_unique<TMainController>(
        View,
        [](TJournalSink&, const std::array<TGridSink*, kGridCount>&) {
            return std::unique_ptr<TTerminalPort>();
        },
        "/");
    Controller->FormCreate();
    EXPECT_FALSE(View.TimerArmed);
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Не удалось создать коннектор!"});
    Controller->Settings1Execute();
    EXPECT_FALSE(View.TimerArmed);
    Controller->Connect1Execute();
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error).back(), "Не создан класс Connector");
    Controller->FormClose();
}

TEST_F(MainControllerTest, AConnectorThatThrowsCountsAsNotCreated) {
    Controller = std::make_unique<TMainController>(
        View,
        [](TJournalSink&, const std::array<TGridSink*, kGridCount>&)
            -> std::unique_ptr<TTerminalPort> { throw std::runtime_error("no threads"); },
        "/");
    Controller->FormCreate();
    EXPECT_FALSE(View.TimerArmed);
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Не удалось создать коннектор!"});
}

TEST_F(MainControllerTest, SequenceLoadsRouterThenGatewayFromTheRegistryFolder) {
    Ready();
    EXPECT_EQ(Log->Calls[0],
              "RouterPath SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate InstallDir");
    EXPECT_EQ(Log->Calls[1], "LoadRouter /opt/cgate/bin/P2MQRouter64.exe SOFTWARE\\Moscow "
                             "Exchange\\SPECTRA Client's Gate InstallDir client_router.ini "
                             "127.0.0.1 SpectraCGate");
    EXPECT_EQ(Log->Calls[2], "LoadGateway /opt/cgate/bin/cgate64.dll");
    EXPECT_TRUE(Port->S.RoutLoad);
    EXPECT_EQ(Port->S.CGDllHandle, 4096U);
    EXPECT_EQ(Port->S.appPath, "/opt/vorlen/");
    EXPECT_EQ(Port->Lsnrs.size(), 12U);
    EXPECT_EQ(Port->Streams.size(), 12U);
    EXPECT_TRUE(Port->CLT);
    // A tick of a timer armed twice does not run the sequence twice.
    Controller->Timer1Timer();
    EXPECT_EQ(View.SettingsDialogs, 1);
}

TEST_F(MainControllerTest, SettingsAfterAnApplyShowsTheDialogAtOnceAndLoadsNothing) {
    Ready();
    const std::size_t calls = Log->Calls.size();
    View.SettingsAnswers = {true};
    Controller->Settings1Execute();
    EXPECT_EQ(View.SettingsDialogs, 2);
    EXPECT_FALSE(View.TimerArmed);
    EXPECT_TRUE(Port->S.isSet);
    EXPECT_EQ(Log->Count("LoadRouter " + Log->Calls[1].substr(11)), 1);
    EXPECT_EQ(Log->Calls.size(), calls + 1) << "only the registry is read again";

    // Cancelled now, the next Settings goes through the timer again, but the router found or
    // started before is not started a second time.
    View.SettingsAnswers = {false};
    Controller->Settings1Execute();
    EXPECT_FALSE(Port->S.isSet);
    EXPECT_TRUE(View.Memo.Lines.empty()) << "only the timer's run journals a cancel";
    Controller->Settings1Execute();
    EXPECT_TRUE(View.TimerArmed);
    View.SettingsAnswers = {true};
    Controller->Timer1Timer();
    int routers = 0;
    for (const auto& call : Log->Calls)
        routers += call.rfind("LoadRouter", 0) == 0 ? 1 : 0;
    EXPECT_EQ(routers, 1);
    EXPECT_EQ(Log->Count("LoadGateway /opt/cgate/bin/cgate64.dll"), 2);
}

TEST_F(MainControllerTest, RouterFailureStopsTheSequenceBeforeTheLibrary) {
    TPortScript noRouter;
    noRouter.RouterStarts = false;
    Ready(noRouter);
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Сервис не найден, роутер не загружен!"});
    EXPECT_FALSE(Port->S.RoutLoad);
    EXPECT_EQ(Log->Count("LoadGateway /opt/cgate/bin/cgate64.dll"), 0);
    EXPECT_FALSE(View.Shown.Connect1);
    Controller->Connect1Execute();
    EXPECT_EQ(Log->Count("OpenEnvironment"), 0);
}

TEST_F(MainControllerTest, LibraryFailureTakesBackAnEarlierConnect) {
    Ready();
    ASSERT_TRUE(View.Shown.Connect1);
    // Cancelled once, the next Settings runs the sequence again; this time the library fails.
    View.SettingsAnswers = {false};
    Controller->Settings1Execute();
    Controller->Settings1Execute();
    Port->Script.GatewayHandle = 32; // 32 and below mean failure
    View.SettingsAnswers = {true};
    Controller->Timer1Timer();
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Библиотека CGATE не загружена!"});
    EXPECT_TRUE(Port->S.RoutLoad);
    EXPECT_FALSE(View.Shown.Conndis1);
    EXPECT_FALSE(View.Shown.Connect1);
    Controller->Connect1Execute();
    EXPECT_EQ(Log->Count("OpenEnvironment"), 0);
}

TEST_F(MainControllerTest, ConnectStartsTransactionsThenMarketDataOnce) {
    Ready();
    Controller->Connect1Execute();
    EXPECT_TRUE(Port->Env);
    EXPECT_FALSE(View.Shown.Settings1);
    const auto start = std::find(Log->Calls.begin(), Log->Calls.end(), "StartTransactions 30 -");
    ASSERT_NE(start, Log->Calls.end());
    ASSERT_NE(start + 1, Log->Calls.end());
    EXPECT_EQ(*(start + 1), "StartMarketData");

    Controller->Connect1Execute();
    Controller->Settings1Execute();
    EXPECT_EQ(Log->Count("OpenEnvironment"), 1);
    EXPECT_EQ(Log->Count("StartMarketData"), 1);
    EXPECT_EQ(View.SettingsDialogs, 1);
    EXPECT_FALSE(View.TimerArmed);
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(MainControllerTest, SchemeModeHandsTheSchemeVersionToTransactions) {
    Create();
    View.EditSettings = [](TSettingsModel& m) {
        m.Values.SchemBox = true;
        m.SetSpin(100);
    };
    View.SettingsAnswers = {true};
    Controller->Timer1Timer();
    Controller->Connect1Execute();
    EXPECT_EQ(Log->Count("StartTransactions 3000 718"), 1);
}

TEST_F(MainControllerTest, EnvironmentFailuresAndOldGateways) {
    TPortScript closed;
    closed.Environment = TEnvOpenResult::NotOpened;
    Ready(closed);
    Controller->Connect1Execute();
    EXPECT_FALSE(Port->Env);
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_TRUE(View.Shown.Settings1);

    for (const auto& [result, text] :
         {std::pair{TEnvOpenResult::VersionUnknown, "Не получена версия CGATE!"},
          std::pair{TEnvOpenResult::VersionTooOld, "Версия CGATE.DLL должна быть более новой!"}}) {
        Port->Env = false;
        Boxes.Clear();
        Port->Script.Environment = result;
        Controller->Connect1Execute();
        EXPECT_TRUE(Port->Env);
        EXPECT_EQ(Boxes.Texts(TDialogKind::Error), std::vector<std::string>{text});
        Controller->Connect1Execute();
        EXPECT_EQ(Boxes.Calls.size(), 1U) << "a second connect does nothing";
    }
    EXPECT_EQ(Log->Count("StartMarketData"), 0);
    EXPECT_EQ(Log->Count("OpenEnvironment"), 3);
}

TEST_F(MainControllerTest, InitialDataSwitchesToTheConnectedState) {
    Ready();
    Controller->Connect1Execute();
    ASSERT_TRUE(Port->OnConnected);
    Port->OnConnected();
    TMainControls expected;
    expected.Conndis1 = true;
    expected.Conndis1Image = 23;
    expected.Connect1 = false;
    expected.Disconnect1 = true;
    expected.Settings1 = false;
    expected.FileNew1Button = true;
    expected.FileNew1Menu = true;
    expected.FilesNew1Button = true;
    expected.FilesNew1Menu = true;
    expected.Trading = true;
    EXPECT_EQ(View.Shown, expected);

    Controller->FilesNew1Execute();
    EXPECT_TRUE(View.Shown.StopAllButton);
    EXPECT_TRUE(View.Shown.FilesNew1Button);
}

// A transport with nothing on the book and no reply ever due.
class TIdleTransport final : public orders::IOrderTransport {
public:
    std::uint32_t NextId() override { return 1; }
    bool PostAdd(std::uint32_t, std::int32_t, const TAddOrderParams&) override { return false; }
    bool PostCancel(std::uint32_t, std::int32_t, const TDelOrderParams&) override { return false; }
    bool TakeReply(std::uint32_t, orders::TReply&) override { return false; }
    void WaitReply(unsigned) override {}
    orders::TLinkHealth Health() override { return orders::TLinkHealth::Online; }
};

// The kill switch and re-arming happen only once the trader confirms; the kill switch stops every
// expert's strategy through the hook the controller gives the port, and reports in the journal.
TEST_F(MainControllerTest, KillSwitchAndRearmAskFirstAndStopEveryStrategy) {
    Ready();
    Controller->KillSwitchExecute();
    EXPECT_TRUE(Boxes.Calls.empty()) << "nothing to ask without a desk";
    ASSERT_EQ(View.Memo.Lines.size(), 1U);
    EXPECT_NE(View.Memo.Lines[0].find("Нет соединения Трансакций."), std::string::npos);

    TIdleTransport transport;
    orders::TDeskInputs in;
    in.StopStrategies = [this] { Port->StopStrategies(); };
    std::vector<std::string> journal;
    orders::TOrderDesk desk(
        transport, {}, in, [&](const std::string& t) { journal.push_back(t); }, nullptr);
    Port->Desk = &desk;
    ASSERT_TRUE(Port->StopStrategies) << "the controller hands the port its stop hook";

    Boxes.Answers = {false};
    Controller->KillSwitchExecute();
    EXPECT_EQ(Boxes.Texts(TDialogKind::Confirm),
              std::vector<std::string>{std::string(kKillSwitchQuestion)});
    EXPECT_EQ(desk.KillPhase(), orders::TKillPhase::Armed);
    EXPECT_EQ(View.StrategiesStopped, 0);

    Boxes.Answers = {true};
    Controller->KillSwitchExecute();
    EXPECT_EQ(desk.KillPhase(), orders::TKillPhase::Halted);
    EXPECT_EQ(View.StrategiesStopped, 1);
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), "Все заявки сняты, торговля остановлена.");

    Boxes.Answers = {false};
    Controller->RearmExecute();
    EXPECT_EQ(desk.KillPhase(), orders::TKillPhase::Halted);
    Boxes.Answers = {true};
    Controller->RearmExecute();
    EXPECT_EQ(desk.KillPhase(), orders::TKillPhase::Armed);
    EXPECT_EQ(Boxes.Texts(TDialogKind::Confirm).size(), 4U);

    Controller->StopAllExpertsExecute();
    EXPECT_EQ(View.StrategiesStopped, 2);
    Port->Desk = nullptr;
}

// After a connection the disconnect commands disconnect; before one, they connect. Connecting
// again starts the same connections without opening the environment a second time.
TEST_F(MainControllerTest, DisconnectCommandsToggleOnceConnectionsRun) {
    Ready();
    Controller->Disconnect1Execute();
    EXPECT_EQ(Log->Count("OpenEnvironment"), 1);
    EXPECT_EQ(Log->Count("StartMarketData"), 1);
    Port->OnConnected();
    EXPECT_EQ(Log->Count("RefreshGrids"), 0);

    for (int round = 1; round <= 2; ++round) {
        Log->Calls.clear();
        if (round == 1)
            Controller->Disconnect1Execute();
        else
            Controller->Conndis1Execute();
        EXPECT_EQ(Log->Calls, std::vector<std::string>{"StopConnections"});
        TMainControls offline;
        offline.Conndis1 = true;
        offline.Connect1 = true;
        offline.Settings1 = false;
        EXPECT_EQ(View.Shown, offline);
        Controller->Settings1Execute();
        EXPECT_EQ(View.SettingsDialogs, 1) << "the environment stays open";

        Log->Calls.clear();
        (round == 1 ? Controller->Connect1Execute() : Controller->Conndis1Execute());
        EXPECT_EQ(Log->Calls,
                  (std::vector<std::string>{"StartTransactions 30 -", "StartMarketData"}));
        Port->OnConnected();
        EXPECT_EQ(Log->Count("RefreshGrids"), 1) << "the grids are drawn anew once";
        EXPECT_TRUE(View.Shown.Disconnect1);
        Controller->Connect1Execute();
        EXPECT_EQ(Log->Count("StartMarketData"), 1) << "Connect does nothing while connected";
    }
    EXPECT_TRUE(Boxes.Calls.empty());
}

// A router that does not answer, or one that went away, keeps the connections trying: the
// trader can stop them then as well, by the menu entry and by the toolbar button, and a router
// this terminal cannot start again turns both indicators to the alarm.
TEST_F(MainControllerTest, DisconnectStopsConnectionsThatAreStillTryingToConnect) {
    struct TCase {
        bool EverConnected;
        THealthState State;
        std::string RouterProblem;
        bool Toolbar;
        std::string MdText;
    };
    const std::vector<TCase> cases = {
        {false, THealthState::Connecting, "", false, "Маркет-дата: подключение"},
        {false, THealthState::Connecting, "роутер не запущен", true,
         "Маркет-дата: подключение; роутер не запущен"},
        {true, THealthState::Reconnecting, "", true, "Маркет-дата: переподключение"},
        {true, THealthState::Reconnecting, "роутер не запущен", false,
         "Маркет-дата: переподключение; роутер не запущен"},
    };
    Ready();
    for (const TCase& c : cases) {
        Log->Calls.clear();
        Controller->Connect1Execute();
        if (c.EverConnected)
            Port->OnConnected();
        Port->HealthNow.Links[0] = {c.State, -1};
        Port->HealthNow.Links[1] = {c.State, -1};
        Port->HealthNow.RouterProblem = c.RouterProblem;
        Port->OnHealth();
        EXPECT_EQ(View.Health.MarketData.Text, c.MdText);
        EXPECT_EQ(View.Health.MarketData.Alarm, !c.RouterProblem.empty()) << c.MdText;
        EXPECT_EQ(View.Health.Transactions.Alarm, !c.RouterProblem.empty()) << c.MdText;
        EXPECT_TRUE(View.Shown.Disconnect1) << c.MdText;

        (c.Toolbar ? Controller->Conndis1Execute() : Controller->Disconnect1Execute());
        EXPECT_EQ(Log->Count("StopConnections"), 1) << c.MdText;
        EXPECT_FALSE(View.Shown.Disconnect1);
        EXPECT_TRUE(View.Shown.Connect1);
        EXPECT_FALSE(View.Shown.Trading);
    }
    // An on-line link is not marked, whatever the router's keeper says of the other one.
    Port->HealthNow.Links[1] = {THealthState::Online, -1};
    Port->OnHealth();
    EXPECT_FALSE(View.Health.Transactions.Alarm);
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(MainControllerTest, HealthReachesIndicatorsGridsAndExperts) {
    Ready();
    Controller->Connect1Execute();
    View.OpenExpertWindow("A");
    ASSERT_TRUE(Port->OnHealth);

    struct TCase {
        THealthState Md;
        std::int64_t MdAgeMs;
        THealthState Tr;
        bool Stale;
        std::string MdText;
        std::string TrText;
    };
    const std::vector<TCase> cases = {
        {THealthState::Connecting, -1, THealthState::Connecting, false, "Маркет-дата: подключение",
         "Трансакции: подключение"},
        {THealthState::Online, 1500, THealthState::Online, false,
         "Маркет-дата: на связи, данные 1 с назад", "Трансакции: на связи"},
        {THealthState::Stale, 7000, THealthState::Stale, true,
         "Маркет-дата: нет данных, данные 7 с назад", "Трансакции: нет данных"},
        {THealthState::Reconnecting, 125000, THealthState::Online, true,
         "Маркет-дата: переподключение, данные 2 мин назад", "Трансакции: на связи"},
        {THealthState::Disconnected, 7200000, THealthState::Disconnected, true,
         "Маркет-дата: отключено, данные 2 ч назад", "Трансакции: отключено"},
    };
    for (const TCase& c : cases) {
        Port->HealthNow.Links[0] = {c.Md, c.MdAgeMs};
        Port->HealthNow.Links[1] = {c.Tr, -1};
        Port->OnHealth();
        EXPECT_EQ(View.Health.MarketData.State, c.Md);
        EXPECT_EQ(View.Health.MarketData.Text, c.MdText);
        EXPECT_EQ(View.Health.Transactions.Text, c.TrText);
        EXPECT_EQ(View.Health.Stale, c.Stale) << c.MdText;
        EXPECT_EQ(View.Windows[0]->Stale, c.Stale) << c.MdText;
        EXPECT_EQ(View.Health.StaleText.empty(), !c.Stale);
        if (c.Stale) {
            EXPECT_EQ(View.Health.StaleText.rfind("Данные не обновляются (" +
                                                      std::string(HealthStateName(c.Md)) +
                                                      "). Последние данные в ",
                                                  0),
                      0u)
                << View.Health.StaleText;
            EXPECT_EQ(View.Windows[0]->StaleText, View.Health.StaleText);
        }
    }
}

class NewExpertTest : public MainControllerTest {
protected:
    void SetUp() override {
        TPortScript script;
        script.Fut = {Header(11, "GAZR-6.26", "GZM6", "Газпром"),
                      Header(12, "Si-12.26", "SiZ6", "Доллар")};
        script.Opt = {Header(21, "Si-12.26M", "Si80", "Опцион 1"),
                      Header(22, "Si-12.26N", "Si81", "Опцион 2")};
        script.Spot = {{1, "GAZP", "GAZP", "Газпром ао"}, {2, "USD000UTSTOM", "USD", "Доллар"}};
        Ready(script);
    }
};

TEST_F(NewExpertTest, TheNthExpertStartsFromTheNthInstruments) {
    Controller->FileNew1Execute();
    EXPECT_FALSE(View.Shown.FilesNew1Button);
    EXPECT_FALSE(View.Shown.FilesNew1Menu);
    EXPECT_TRUE(View.Shown.StopAllButton);
    EXPECT_EQ(View.ChooserFut, 0);
    ASSERT_EQ(View.Windows.size(), 1U);
    const TFakeWindow& first = *View.Windows[0];
    EXPECT_EQ(first.Caption(), "GAZR-6.26(GAZP}-[11]");
    EXPECT_EQ(first.Isin, 11);
    EXPECT_EQ(first.Name, "Газпром");
    EXPECT_EQ(first.Code, "GAZR-6.26");
    EXPECT_TRUE(first.Started);

    Controller->FileNew1Execute();
    EXPECT_EQ(View.ChooserFut, 1);
    EXPECT_EQ(View.ChooserOpt, 1);
    ASSERT_EQ(View.Windows.size(), 2U);
    EXPECT_EQ(View.Windows[1]->Caption(), "Si-12.26(USD000UTSTOM}-[12]");

    // A third request preselects nothing (there is no third instrument): the chooser's fields
    // keep their start values, and so does the caption made of them.
    Controller->FileNew1Execute();
    EXPECT_EQ(View.ChooserFut, -1);
    ASSERT_EQ(View.Windows.size(), 3U);
    EXPECT_EQ(View.Windows[2]->Caption(), "(}-[0]");
}

TEST_F(NewExpertTest, AnOpenCaptionIsNotOpenedTwice) {
    Controller->FileNew1Execute();
    View.PickFut = 0; // the user goes back to the first futures
    Controller->FileNew1Execute();
    EXPECT_EQ(Boxes.Texts(TDialogKind::Info),
              std::vector<std::string>{"Инструмент GAZR-6.26(GAZP}-[11] уже создан!"});
    EXPECT_EQ(View.Windows.size(), 1U);
}

TEST_F(NewExpertTest, CancelEmptyListsAndMissingHeaders) {
    View.ChooserAnswer = false;
    Controller->FileNew1Execute();
    EXPECT_TRUE(View.Windows.empty());
    EXPECT_TRUE(Boxes.Calls.empty());

    View.ChooserAnswer = true;
    Port->Script.Fut.clear();
    Port->Script.Opt.clear();
    Controller->FileNew1Execute();
    EXPECT_TRUE(View.Windows.empty());
    EXPECT_EQ(Boxes.Texts(TDialogKind::Error),
              std::vector<std::string>{"Не выбрано ни одного инструмента!"});

    Boxes.Clear();
    Port->Script.HeadersReady = false;
    View.ChooserFut = -2;
    Controller->FileNew1Execute();
    EXPECT_EQ(View.ChooserFut, -2) << "no chooser without instrument lists";
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(MainControllerTest, ClosingAsksAndThenStopsEverythingInOrder) {
    Ready();
    Controller->Connect1Execute();
    View.OpenExpertWindow("A");
    View.OpenExpertWindow("B");
    Boxes.Answers = {false, true};
    EXPECT_FALSE(Controller->FormCloseQuery());
    EXPECT_EQ(Boxes.Texts(TDialogKind::Confirm),
              std::vector<std::string>{"Вы действительно хотите выйти?"});
    EXPECT_EQ(Log->Count("StopUpdater"), 0);
    EXPECT_TRUE(Controller->FormCloseQuery());

    Log->Calls.clear();
    Controller->FormClose();
    EXPECT_EQ(Log->Calls,
              (std::vector<std::string>{"StopTransactions", "StopMarketData", "StopExpert A",
                                        "StopExpert B", "StopUpdater", "ReleaseStore", "Release"}));
    EXPECT_EQ(Controller->Port(), nullptr);
    Log->Calls.clear();
    Controller->FormClose();
    EXPECT_EQ(Log->Count("Release"), 0);
}

// Leaving with strategies at work or orders in the market is a decision the question must show:
// the strategies stop, the orders stay.
TEST_F(MainControllerTest, TheExitQuestionCountsRunningStrategiesAndActiveOrders) {
    Ready();
    Controller->Connect1Execute();
    orders::TScriptedTransport transport;
    transport.AnswerAddsWith = 0;
    orders::TDeskInputs in;
    in.Facts = [] {
        auto ref = std::make_shared<orders::TRefFacts>();
        ref->Clients = {"FZ00001"};
        ref->Instruments["Si-3.27"] = {7, "Si-3.27", 100'000, 1, 10'000'000'000, true};
        orders::TStoreFacts f;
        f.Ref = ref;
        return f;
    };
    in.MarketData = [] { return orders::TLinkHealth::Online; };
    orders::TOrderDesk desk(
        transport, {}, in, [](const std::string&) {}, nullptr);
    Port->Desk = &desk;
    struct TCase {
        int Running, Idle, Orders;
        std::string Question;
    };
    const std::vector<TCase> cases = {
        {0, 1, 0, "Вы действительно хотите выйти?"},
        {2, 1, 0,
         "Работает стратегий: 2 (при выходе будут остановлены).\nВы действительно хотите выйти?"},
        {1, 0, 3,
         "Работает стратегий: 1 (при выходе будут остановлены).\nАктивных заявок: 3 (останутся "
         "в торговой системе).\nВы действительно хотите выйти?"},
    };
    int placed = 0;
    for (const TCase& c : cases) {
        View.Windows.clear();
        for (int i = 0; i < c.Running + c.Idle; ++i)
            static_cast<TFakeWindow*>(View.OpenExpertWindow("W" + std::to_string(i)))->Running =
                i < c.Running;
        for (; placed < c.Orders; ++placed) {
            const orders::TOrderRequest o{"Si-3.27", orders::TSide::Buy, 1,
                                          9'000'000 + placed * 100'000, "FZ00001"};
            ASSERT_EQ(desk.Place(o).Status, orders::TPlaceStatus::Posted);
        }
        desk.Collect();
        Boxes.Clear();
        Boxes.Answers = {false};
        EXPECT_FALSE(Controller->FormCloseQuery());
        EXPECT_EQ(Boxes.Texts(TDialogKind::Confirm), std::vector<std::string>{c.Question});
    }
    Port->Desk = nullptr;
}

} // namespace
} // namespace vorlen
