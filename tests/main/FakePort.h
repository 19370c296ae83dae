#pragma once

// A terminal port that records what the main window's controller asks of the connector and
// answers from a script. Its call log outlives it, so a test can see the port's own release.

#include "book/BookKeeper.h"
#include "connections/GatewayRecords.h"
#include "gateway/Cgate.h"
#include "main/MainController.h"
#include "settings/ConnectorSettings.h"
#include "store/Storage.h"

#include <memory>
#include <string>
#include <vector>

namespace vorlen::test {

struct TPortScript {
    std::string RouterDir = "/opt/cgate/bin/";
    bool RouterStarts = true;
    std::uintptr_t GatewayHandle = 4096;
    // Used unless RealEnvironment is set, in which case the gateway's entry table is asked.
    TEnvOpenResult Environment = TEnvOpenResult::Accepted;
    bool RealEnvironment = false;
    bool HeadersReady = true;
    THeaders Fut;
    THeaders Opt;
    TSHeaders Spot;
    // Gives the port a real (empty) store, so expert windows get real experts.
    bool WithStore = false;
};

struct TPortLog {
    std::vector<std::string> Calls;
    int Count(const std::string& call) const {
        int n = 0;
        for (const auto& c : Calls)
            n += c == call ? 1 : 0;
        return n;
    }
};

class TFakePort final : public TTerminalPort {
public:
    TFakePort(TPortScript script, std::shared_ptr<TPortLog> log)
        : Script(std::move(script)), Log(std::move(log)) {
        if (Script.WithStore) {
            Storage = std::make_unique<TCGStorage>();
            Keeper = std::make_unique<TBookKeeper>(Storage->Mutex());
            Storage->SetObserver(Keeper.get());
        }
    }
    ~TFakePort() override { Log->Calls.push_back("Release"); }

    TConnectorSettings& Settings() override { return S; }
    bool EnvOpen() const override { return Env; }
    void SetEnvOpen(bool open) override { Env = open; }
    std::int32_t OrdersFilter() const override { return Orders; }
    void SetOrdersFilter(std::int32_t filter) override { Orders = filter; }
    std::int32_t MLOrdersFilter() const override { return MLOrders; }
    void SetMLOrdersFilter(std::int32_t filter) override { MLOrders = filter; }
    void RefreshGrid(int grid) override { Refreshed.push_back(grid); }

    std::string RouterPath(const std::string& key, const std::string& record) override {
        Log->Calls.push_back("RouterPath " + key + " " + record);
        return Script.RouterDir;
    }
    TListeners* Listeners() override { return &Lsnrs; }
    void SetStreams(const std::vector<std::string>& names) override { Streams = names; }
    void SetCLTFut(bool on) override { CLT = on; }

    bool LoadRouter(const std::string& fileName, const std::string& regKey,
                    const std::string& regRecord, const std::string& iniName,
                    const std::string& machine, const std::string& servName) override {
        Log->Calls.push_back("LoadRouter " + fileName + " " + regKey + " " + regRecord + " " +
                             iniName + " " + machine + " " + servName);
        return Script.RouterStarts;
    }
    std::uintptr_t LoadGateway(const std::string& fileName) override {
        Log->Calls.push_back("LoadGateway " + fileName);
        return Script.GatewayHandle;
    }
    TEnvOpenResult OpenEnvironment() override {
        Log->Calls.push_back("OpenEnvironment");
        return Script.RealEnvironment ? OpenCGateEnvironment(S) : Script.Environment;
    }
    bool StartTransactions(std::uint32_t trMax,
                           const std::optional<std::string>& schemVer) override {
        Log->Calls.push_back("StartTransactions " + std::to_string(trMax) + " " +
                             (schemVer ? *schemVer : std::string("-")));
        return true;
    }
    bool StartMarketData(std::function<void()> onConnected) override {
        Log->Calls.push_back("StartMarketData");
        OnConnected = std::move(onConnected);
        return true;
    }
    bool GetHeaders(THeaders& fut, THeaders& opt, TSHeaders& spot) override {
        Log->Calls.push_back("GetHeaders");
        if (!Script.HeadersReady)
            return false;
        fut = Script.Fut;
        opt = Script.Opt;
        spot = Script.Spot;
        return true;
    }
    TCGStorage* Store() override { return Storage.get(); }
    TBookKeeper* Books() override { return Keeper.get(); }
    orders::TOrderDesk* OrderDesk() override { return Desk; }
    void SetStopStrategies(std::function<void()> stop) override {
        StopStrategies = std::move(stop);
    }

    void StopTransactions() override { Log->Calls.push_back("StopTransactions"); }
    void StopMarketData() override { Log->Calls.push_back("StopMarketData"); }
    void StopUpdater() override { Log->Calls.push_back("StopUpdater"); }
    void ReleaseStore() override {
        Log->Calls.push_back("ReleaseStore");
        if (Storage)
            Storage->SetObserver(nullptr);
        Keeper.reset();
        Storage.reset();
    }
    void StopConnections() override { Log->Calls.push_back("StopConnections"); }
    void RefreshGrids() override { Log->Calls.push_back("RefreshGrids"); }
    void SetHealthHandler(std::function<void()> onChange) override {
        OnHealth = std::move(onChange);
    }
    THealthSnapshot Health() const override { return HealthNow; }

    TPortScript Script;
    std::shared_ptr<TPortLog> Log;
    TConnectorSettings S{};
    bool Env = false;
    std::int32_t Orders = 1;
    std::int32_t MLOrders = 1;
    std::vector<int> Refreshed; // grids whose pass was asked for, in order
    TListeners Lsnrs;
    std::vector<std::string> Streams;
    bool CLT = false;
    std::function<void()> OnConnected;
    std::function<void()> OnHealth;
    THealthSnapshot HealthNow;
    std::unique_ptr<TCGStorage> Storage;
    std::unique_ptr<TBookKeeper> Keeper;
    orders::TOrderDesk* Desk = nullptr;   // the test's
    std::function<void()> StopStrategies; // what the controller gave
};

// A factory for the controller that keeps a pointer to the port it made.
inline TPortFactory FakePortFactory(TPortScript script, std::shared_ptr<TPortLog> log,
                                    TFakePort** made = nullptr) {
    return [script = std::move(script), log = std::move(log),
            made](TJournalSink&,
                  const std::array<TGridSink*, kGridCount>&) -> std::unique_ptr<TTerminalPort> {
        auto port = std::make_unique<TFakePort>(script, log);
        if (made != nullptr)
            *made = port.get();
        return port;
    };
}

inline THeader Header(std::int32_t id, std::string isin, std::string shortIsin, std::string name) {
    return THeader{id, std::move(isin), std::move(shortIsin), std::move(name)};
}

} // namespace vorlen::test
