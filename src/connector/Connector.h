#pragma once

// The one owner of the terminal's link to the exchange router: the settings record, the replica
// store, both connection threads and the grid updater; the gateway installation's folder from the
// registry; the router as a running service or a process started here; and, at the end, the
// gateway environment, the gateway library and that process.

#include "platform/Journal.h"
#include "platform/Process.h"
#include "platform/ProcessStart.h"
#include "settings/ConnectorSettings.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace vorlen {

namespace history {
class TRecorder;
}
class TCGConnector;
class TRouterKeeper;
class TCGStorage;
class TBookKeeper;
class TCGConnection;
class TCGTRConnection;
class THealthMonitor;
// The grid updater (grids/UpdGrids.h) sits above the connector: the program that has grids
// supplies it through TGridUpdaterHook, and the connector holds it without knowing its type.
class TUpdateGrids;

// What the connector asks of the operating system and of the gateway. Tests replace single
// entries; everything else uses DefaultConnectorServices().
struct TConnectorServices {
    // The directory separator of the paths in the registry and the settings.
    char PathSeparator = '\\';
    // A string value under HKEY_LOCAL_MACHINE; false when the key cannot be opened.
    std::function<bool(const std::string& key, const std::string& value, std::string& out)>
        ReadMachineString;
    std::function<bool(const std::string& machine, const std::string& name)> ServiceRunning;
    std::function<bool(const std::string& application, const std::string& commandLine,
                       const std::string& currentDir, TProcInfo& info)>
        StartProcess;
    std::function<bool(std::uintptr_t process, std::uint32_t exitCode)> TerminateProcess;
    std::function<bool(std::uintptr_t handle)> CloseHandle;
    // Non-blocking: the started process has ended (and is reaped).
    std::function<bool(std::uintptr_t process, platform::TProcessExit& ended)> ProcessExited;
    std::function<void()> CloseEnvironment;                 // cg_env_close
    std::function<void(std::uintptr_t module)> FreeLibrary; // the gateway library
};

// The platform's own services and the gateway's entry-point table.
TConnectorServices DefaultConnectorServices();

// Frees the grid updater through the hook that made it.
struct TUpdateGridsDeleter {
    std::function<void(TUpdateGrids*)> StopAndFree;
    void operator()(TUpdateGrids* updater) const {
        if (updater != nullptr && StopAndFree) {
            StopAndFree(updater);
        }
    }
};
using TUpdateGridsPtr = std::unique_ptr<TUpdateGrids, TUpdateGridsDeleter>;

struct TGridUpdaterHook {
    // Creates the grid updater for this connector and starts it; may return null.
    std::function<TUpdateGrids*(TCGConnector&)> Create;
    // Signals its exit event, asks it to terminate, waits for it and frees it.
    std::function<void(TUpdateGrids*)> StopAndFree;
};

// What is recorded and where, as it stands when the connections start.
struct TRecordingSetup {
    std::filesystem::path Folder; // empty: nothing is recorded
    unsigned KeepDays = 30;
    std::uint64_t KeepBytes = 20ull << 30;
    bool operator==(const TRecordingSetup&) const = default;
};

struct TConnectorHooks {
    // The journal every part writes to (the main window's pane, standard output in the console).
    TJournalSink* Journal = nullptr;
    // Run on the UI thread once the instrument lists are built: the switch to the connected state.
    std::function<void()> OnConnected;
    TGridUpdaterHook GridUpdater;
    TConnectorServices Services = DefaultConnectorServices();
    // Where the recordings of the trading day go; empty: nothing is recorded. Ignored by a
    // build without the history module.
    std::filesystem::path RecordFolder;
    // When set, asked at each start of recording instead of RecordFolder, so a setting changed
    // while disconnected takes effect at the next connect. Runs on the thread that connects.
    std::function<TRecordingSetup()> Recording;
};

// Frees the recorder where its type is known; a build without history never has one.
struct TRecorderDeleter {
    void operator()(history::TRecorder* recorder) const;
};

class TCGConnector {
public:
    // Creates, in this order: the store, the market-data connection (suspended), the grid
    // updater (started at once, when the hook supplies one), the transaction connection
    // (suspended).
    explicit TCGConnector(TConnectorHooks hooks = {});
    // Closes the gateway environment when it is open, frees the gateway library, and terminates
    // the router when this program started it. Parts still owned at that point (the shutdown
    // order normally releases them first) are stopped and released before any of that, since
    // their threads call into the library.
    ~TCGConnector();
    TCGConnector(const TCGConnector&) = delete;
    TCGConnector& operator=(const TCGConnector&) = delete;

    // The router's folder from the registry value naming the gateway installation: "bin" and a
    // separator are appended when "bin" occurs nowhere in it. Empty when the key cannot be
    // opened or the value is missing or empty.
    std::string GetCGRouterPath(const std::string& regKey, const std::string& RegValue);
    // The router service `sName` runs on `Machine`.
    bool GetCgService(const std::string& Machine, const std::string& sName);
    // True when the router runs as a service, or when it could be started here from FileName
    // with its configuration IniName; ProcInfo of the settings receives the started process,
    // which from then on is started again whenever it ends (see TRouterKeeper).
    // RKey and Rrec are accepted and not used.
    bool LoadRouter(const std::string& FileName, const std::string& RKey, const std::string& Rrec,
                    const std::string& IniName, const std::string& Machine,
                    const std::string& ServName);

    // Told the process handle of every router started again after one ended (on the health
    // monitor's thread), until the monitor stops.
    void SetOnRouterStarted(std::function<void(std::uintptr_t process)> onStarted);

    // Steps of the shutdown order: each asks its thread to end, waits for it (keeping the
    // UI-call queue served, so a last journal line still arrives), clears the field and frees
    // the object. Each does nothing when the part is gone already. The experts' threads, which
    // belong to the main window, are stopped between StopMarketData and StopGridUpdater.
    void StopTransaction();
    void StopMarketData();
    void StopGridUpdater();
    void ReleaseStorage();

    // Starts recording (when asked for) before the connections start; a second call does nothing
    // while recording goes on with the same setup. While neither connection thread runs, a
    // changed setup, or a recording that a fault stopped, gets a new recorder. A recorder that
    // cannot be made is reported in the journal and the terminal goes on without one.
    void StartRecording();
    // Null when nothing is recorded.
    history::TRecorder* Recorder() const { return FRecorder.get(); }

    // A disconnection that keeps everything else: both connection threads end (each closes its
    // listeners, publisher and connection), their objects stay for the next Connect.
    void StopConnections();

    // What it owns; each is null once its step of the shutdown order has run.
    TCGStorage* Storage() const { return FStorage.get(); }
    // The order books, following the store from its creation to its release.
    TBookKeeper* Books() const { return FBooks.get(); }
    TCGConnection* MarketData() const { return FMDConn.get(); }
    TCGTRConnection* Transactions() const { return FTRConn.get(); }
    TUpdateGrids* GridUpdater() const { return FUpdGrids.get(); }
    // Watches both connections and a router started here; lives as long as the connector.
    THealthMonitor& Health() const { return *FHealth; }

    TConnectorSettings& Settings() { return FSettings; }
    const TConnectorSettings& Settings() const { return FSettings; }
    // The gateway environment is open (cgEnv).
    bool EnvOpen() const { return FEnvOpen; }
    void SetEnvOpen(bool open) { FEnvOpen = open; }

    // The orders grids' filters (1 active, 2 done, 4 all), set from their context menus. The
    // grid updater keeps the reference and reads the current value at each pass; both run on
    // the user-interface thread.
    const std::int32_t& OrdersFilter() const { return FOrders; }
    void SetOrdersFilter(std::int32_t filter) { FOrders = filter; }
    const std::int32_t& MLOrdersFilter() const { return FMLOrders; }
    void SetMLOrdersFilter(std::int32_t filter) { FMLOrders = filter; }
    std::int32_t IsinId() const { return FIsinId; }
    void SetIsinId(std::int32_t isinId) { FIsinId = isinId; }

    char PathSeparator() const { return FServices.PathSeparator; }

private:
    // Polled by the monitor's thread: it goes after the monitor has stopped.
    std::unique_ptr<TRouterKeeper> FRouter;
    std::unique_ptr<THealthMonitor> FHealth;
    TConnectorSettings FSettings{};
    bool FEnvOpen = false;
    TJournalSink* FJournal = nullptr;
    std::function<TRecordingSetup()> FRecording;
    TRecordingSetup FRecordingNow;
    // Before the connections, so that it goes after them: their threads hold it.
    std::unique_ptr<history::TRecorder, TRecorderDeleter> FRecorder;
    std::unique_ptr<TCGStorage> FStorage;
    std::unique_ptr<TBookKeeper> FBooks;
    std::unique_ptr<TCGConnection> FMDConn;
    std::unique_ptr<TCGTRConnection> FTRConn;
    TUpdateGridsPtr FUpdGrids;
    std::int32_t FOrders = 1;
    std::int32_t FMLOrders = 1;
    std::int32_t FIsinId = 0;
    TConnectorServices FServices;
};

// The router's folder from the installation folder (see GetCGRouterPath).
std::string RouterDirFromInstallDir(std::string installDir, char separator);
// What follows "/ini:" on the router's command line: the router's directory with its first
// "bin" + separator removed, followed by IniName, in quotation marks; the bare directory,
// unquoted, when it holds no "bin" + separator. Either is quoted by the command line's rules
// (platform::QuoteArgument), so a blank or a mark in it cannot start another argument.
std::string RouterIniArgument(const std::string& fileName, const std::string& iniName,
                              char separator);
// The router's whole command line: FileName in quotation marks, a blank, "/ini:", the argument.
// Empty when FileName is empty or holds a quotation mark, which no quoting can carry.
std::string RouterCommandLine(const std::string& fileName, const std::string& iniName,
                              char separator);

// The process-wide connector: set by whoever created it, cleared before it is destroyed.
TCGConnector* Connector();
void SetConnector(TCGConnector* connector);

} // namespace vorlen
