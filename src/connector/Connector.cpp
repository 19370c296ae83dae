#include "connector/Connector.h"

#include "book/BookKeeper.h"
#include "connections/Connection.h"
#include "connections/TrConnection.h"
#include "connector/RouterKeeper.h"
#include "gateway/Cgate.h"
#include "health/HealthMonitor.h"
#include "platform/FormatSettings.h"
#include "platform/Module.h"
#include "platform/ProcessStart.h"
#include "platform/Registry.h"
#include "platform/Service.h"
#include "platform/Thread.h"
#include "store/Storage.h"

#if VORLEN_HISTORY
#include "history/Recorder.h"
#endif

#include <atomic>
#include <chrono>
#include <ctime>
#include <exception>
#include <optional>
#include <string>

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

#if VORLEN_HISTORY
// The exchange's trading date would be the right file name (an evening session belongs to the
// next date); until the terminal reads it from the session tables, the local calendar date at
// start stands for it.
std::string LocalDate() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[16] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}
#endif

} // namespace

void TRecorderDeleter::operator()(history::TRecorder* recorder) const {
#if VORLEN_HISTORY
    delete recorder;
#else
    (void)recorder;
#endif
}

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
    s.ProcessExited = platform::StartedProcessExited;
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
    FHealth = std::make_unique<THealthMonitor>(hooks.Journal);
    FJournal = hooks.Journal;
    if (hooks.Recording) {
        FRecording = std::move(hooks.Recording);
    } else if (!hooks.RecordFolder.empty()) {
        TRecordingSetup fixed;
        fixed.Folder = std::move(hooks.RecordFolder);
        FRecording = [fixed] { return fixed; };
    }
    FStorage = std::make_unique<TCGStorage>();
    FBooks = std::make_unique<TBookKeeper>(FStorage->Mutex());
    FStorage->SetObserver(FBooks.get());
    FMDConn = std::make_unique<TCGConnection>(*FStorage, FSettings, hooks.Journal);
    FMDConn->SetOnConnected(std::move(hooks.OnConnected));
    FMDConn->SetHealthFeed(&FHealth->Feed(THealthLink::MarketData));
    FUpdGrids = TUpdateGridsPtr(nullptr, TUpdateGridsDeleter{hooks.GridUpdater.StopAndFree});
    if (hooks.GridUpdater.Create) {
        FUpdGrids.reset(hooks.GridUpdater.Create(*this));
    }
    FTRConn = std::make_unique<TCGTRConnection>(FSettings, hooks.Journal);
    FTRConn->SetHealthFeed(&FHealth->Feed(THealthLink::Transactions));
}

TCGConnector::~TCGConnector() {
    // Nothing is reported about connections being taken down on the way out.
    FHealth->Stop();
    StopTransaction();
    StopMarketData();
    StopGridUpdater();
    ReleaseStorage();
    FRecorder.reset();
    if (FRouter) {
        // The monitor has stopped: whatever router runs now is the one to end.
        FSettings.ProcInfo = FRouter->Take();
    }

    if (FEnvOpen) {
        if (FServices.CloseEnvironment) {
            FServices.CloseEnvironment();
        }
        FEnvOpen = false;
    }
    if (FSettings.CGDllHandle >= platform::kFirstHandle) {
        if (FServices.FreeLibrary) {
            FServices.FreeLibrary(FSettings.CGDllHandle);
        }
        FSettings.CGDllHandle = 0;
    }
    TProcInfo& pi = FSettings.ProcInfo;
    if (platform::ProcessHandleValue(pi) >= platform::kFirstHandle && FServices.TerminateProcess &&
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
        return dir.empty() ? dir : platform::QuoteArgument(dir);
    }
    dir.erase(at, bin.size());
    return platform::QuoteArgument(dir + iniName, true);
}

std::string RouterCommandLine(const std::string& fileName, const std::string& iniName,
                              char separator) {
    // A quoted program name ends at the next quotation mark, and nothing can escape one there.
    if (fileName.empty() || fileName.find('"') != std::string::npos) {
        return {};
    }
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
    const std::string dir = platform::DirectoryOf(FileName, sep);
    const std::string commandLine = RouterCommandLine(FileName, IniName, sep);
    // The settings are checked when applied; this keeps a name from anywhere else from starting
    // something outside the router's folder as well.
    if (commandLine.empty() || !platform::IsPlainFileName(FileName.substr(dir.size()))) {
        return false;
    }
    if (!FServices.StartProcess(FileName, commandLine, dir, FSettings.ProcInfo)) {
        return false;
    }
    // A router that ends by itself is reaped, reported and started again at once rather than
    // found at close.
    const std::uintptr_t process = platform::ProcessHandleValue(FSettings.ProcInfo);
    if (process >= platform::kFirstHandle && FServices.ProcessExited) {
        FHealth->WatchProcess(nullptr);
        TRouterServices services{FServices.StartProcess, FServices.ProcessExited,
                                 FServices.CloseHandle};
        FRouter = std::make_unique<TRouterKeeper>(
            std::move(services), TRouterStart{FileName, commandLine, dir}, FSettings.ProcInfo, [] {
                return std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                    .count();
            });
        FHealth->WatchProcess(
            [keeper = FRouter.get()](bool served) { return keeper->Poll(served); });
        FHealth->Start();
    }
    return true;
}

void TCGConnector::SetOnRouterStarted(std::function<void(std::uintptr_t process)> onStarted) {
    if (FRouter)
        FRouter->SetOnStarted(std::move(onStarted));
}

void TCGConnector::StopTransaction() {
    StopThread(FTRConn);
}

void TCGConnector::StopMarketData() {
    StopThread(FMDConn);
#if VORLEN_HISTORY
    // The shutdown order has ended the transaction connection already; what is buffered is
    // written and the day file closed while the gateway is still there to be waited on.
    if (FRecorder)
        FRecorder->Stop();
#endif
}

void TCGConnector::StartRecording() {
#if VORLEN_HISTORY
    if (!FRecording)
        return;
    const auto idle = [](const auto& thread) {
        return !thread || !thread->Started() || thread->Finished();
    };
    // The connections' threads hand messages to the recorder without a lock: it is replaced
    // only while none of them runs. The setup is asked for once per connect, so what it reports
    // about itself is reported once.
    if (!idle(FMDConn) || !idle(FTRConn))
        return;
    const TRecordingSetup setup = FRecording();
    if (FRecorder && FRecorder->Recording() && setup == FRecordingNow)
        return;
    const auto attach = [this](history::TRecorder* recorder) {
        if (FMDConn)
            FMDConn->SetRecorder(recorder);
        if (FTRConn)
            FTRConn->SetRecorder(recorder);
    };
    attach(nullptr);
    FRecorder.reset();
    FRecordingNow = setup;
    if (setup.Folder.empty())
        return;
    TJournalSink* journal = FJournal;
    const auto say = [journal](const std::string& text) {
        if (journal == nullptr)
            return;
        const std::string line = JournalLine(text);
        TThread::Synchronize([journal, &line] { journal->AppendLine(line); });
    };
    history::TRecorderOptions options;
    options.Folder = setup.Folder;
    options.Keep.KeepDays = setup.KeepDays;
    options.Keep.KeepBytes = setup.KeepBytes;
    try {
        FRecorder.reset(new history::TRecorder(std::move(options), say));
        FRecorder->Start(LocalDate());
    } catch (const std::exception& e) {
        // Its buffers or its thread could not be had: trading goes on unrecorded.
        FRecorder.reset();
        say(std::string("Внимание: запись истории не начата: ") + e.what() + ".");
        return;
    }
    attach(FRecorder.get());
#endif
}

void TCGConnector::StopConnections() {
    // The transaction connection first, as at shutdown.
    if (FTRConn) {
        FTRConn->RequestDisconnect();
        FTRConn->WaitFor();
    }
    if (FMDConn) {
        FMDConn->RequestDisconnect();
        FMDConn->WaitFor();
    }
}

void TCGConnector::StopGridUpdater() {
    FUpdGrids.reset();
}

void TCGConnector::ReleaseStorage() {
    if (FStorage)
        FStorage->SetObserver(nullptr);
    FBooks.reset();
    FStorage.reset();
}

TCGConnector* Connector() {
    return gConnector.load(std::memory_order_acquire);
}

void SetConnector(TCGConnector* connector) {
    gConnector.store(connector, std::memory_order_release);
}

} // namespace vorlen
