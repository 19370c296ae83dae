#include "gateway/Connector.h"

#include "book/BookKeeper.h"
#include "connections/Connection.h"
#include "connections/TrConnection.h"
#include "gateway/Cgate.h"
#include "platform/Module.h"
#include "platform/ProcessStart.h"
#include "platform/Registry.h"
#include "platform/Service.h"
#include "store/Storage.h"

#include <atomic>

namespace vorlen {

namespace {

std::atomic<TCGConnector*> gConnector{nullptr};

template <class T>
void StopThread(std::unique_ptr<T>& thread) {
    if (!thread) {
        return;
    }
    // Also a thread that was never started or never got its gateway connection is released
    // here: leaving it would leak it, and one still on its way to the connection must be
    // waited for before the library goes.
    thread->Terminate();
    thread->WaitFor();
    thread.reset();
}

} // namespace

TConnectorServices DefaultConnectorServices() {
    TConnectorServices s;
    s.PathSeparator = platform::PathSeparator();
    s.ReadMachineString = platform::ReadMachineString;
    s.ServiceRunning = platform::IsServiceRunning;
    s.StartProcess = platform::StartProcess;
    s.TerminateProcess = [](std::uintptr_t process, std::uint32_t exitCode) {
        return platform::TerminateStartedProcess(process, exitCode);
    };
    s.CloseHandle = platform::CloseProcessHandle;
    s.CloseEnvironment = [] {
        if (CG().cg_env_close != nullptr) {
            CG().cg_env_close();
        }
    };
    s.FreeLibrary = [](std::uintptr_t module) {
        platform::FreeModule(module);
        // The table would point into unmapped code from now on.
        CG() = TCGateEntryPoints{};
    };
    return s;
}

TCGConnector::TCGConnector(TConnectorHooks hooks) : FServices(std::move(hooks.Services)) {
    Orders = 1;
    MLOrders = 1;
    cgSettings = TConnectorSettings{};
    cgEnv = false;
    Storage = std::make_unique<TCGStorage>();
    Books = std::make_unique<TBookKeeper>(Storage->Mutex());
    Storage->SetObserver(Books.get());
    MDConn = std::make_unique<TCGConnection>(*Storage, cgSettings, hooks.Journal);
    MDConn->SetOnConnected(std::move(hooks.OnConnected));
    UpdGrids = TUpdateGridsPtr(nullptr, TUpdateGridsDeleter{hooks.GridUpdater.StopAndFree});
    if (hooks.GridUpdater.Create) {
        UpdGrids.reset(hooks.GridUpdater.Create(*this));
    }
    TRConn = std::make_unique<TCGTRConnection>(cgSettings, hooks.Journal);
}

TCGConnector::~TCGConnector() {
    StopTransaction();
    StopMarketData();
    StopGridUpdater();
    ReleaseStorage();

    if (cgEnv) {
        if (FServices.CloseEnvironment) {
            FServices.CloseEnvironment();
        }
        cgEnv = false;
    }
    if (cgSettings.CGDllHandle >= 32) {
        if (FServices.FreeLibrary) {
            FServices.FreeLibrary(cgSettings.CGDllHandle);
        }
        cgSettings.CGDllHandle = 0;
    }
    TProcInfo& pi = cgSettings.ProcInfo;
    if (platform::ProcessHandleValue(pi) >= 32 && FServices.TerminateProcess &&
        FServices.TerminateProcess(platform::ProcessHandleValue(pi), 0)) {
        if (FServices.CloseHandle(platform::ThreadHandleValue(pi))) {
            platform::ClearThreadHandle(pi);
        }
        if (FServices.CloseHandle(platform::ProcessHandleValue(pi))) {
            platform::ClearProcessHandle(pi);
        }
    }
    // A connector being destroyed must not stay reachable.
    TCGConnector* self = this;
    gConnector.compare_exchange_strong(self, nullptr);
}

std::string RouterDirFromInstallDir(std::string installDir, char separator) {
    if (!installDir.empty() && installDir.find("bin") == std::string::npos) {
        installDir += "bin";
        installDir += separator;
    }
    return installDir;
}

std::string RouterIniArgument(const std::string& fileName, const std::string& iniName,
                              char separator) {
    std::string dir = platform::DirectoryOf(fileName, separator);
    const std::string bin = std::string("bin") + separator;
    const std::size_t at = dir.find(bin);
    if (at == std::string::npos) {
        return dir;
    }
    dir.erase(at, bin.size());
    return "\"" + dir + iniName + "\"";
}

std::string RouterCommandLine(const std::string& fileName, const std::string& iniName,
                              char separator) {
    return "\"" + fileName + "\" /ini:" + RouterIniArgument(fileName, iniName, separator);
}

std::string TCGConnector::GetCGRouterPath(const std::string& regKey, const std::string& RegValue) {
    std::string value;
    if (!FServices.ReadMachineString || !FServices.ReadMachineString(regKey, RegValue, value)) {
        return {};
    }
    return RouterDirFromInstallDir(std::move(value), FServices.PathSeparator);
}

bool TCGConnector::GetCgService(const std::string& Machine, const std::string& sName) {
    return FServices.ServiceRunning && FServices.ServiceRunning(Machine, sName);
}

bool TCGConnector::LoadRouter(const std::string& FileName, const std::string& /*RKey*/,
                              const std::string& /*Rrec*/, const std::string& IniName,
                              const std::string& Machine, const std::string& ServName) {
    if (GetCgService(Machine, ServName)) {
        return true;
    }
    if (!FServices.StartProcess) {
        return false;
    }
    const char sep = FServices.PathSeparator;
    return FServices.StartProcess(RouterCommandLine(FileName, IniName, sep),
                                  platform::DirectoryOf(FileName, sep), cgSettings.ProcInfo);
}

void TCGConnector::StopTransaction() {
    StopThread(TRConn);
}

void TCGConnector::StopMarketData() {
    StopThread(MDConn);
}

void TCGConnector::StopGridUpdater() {
    UpdGrids.reset();
}

void TCGConnector::ReleaseStorage() {
    if (Storage)
        Storage->SetObserver(nullptr);
    Books.reset();
    Storage.reset();
}

TCGConnector* Connector() {
    return gConnector.load(std::memory_order_acquire);
}

void SetConnector(TCGConnector* connector) {
    gConnector.store(connector, std::memory_order_release);
}

} // namespace vorlen
