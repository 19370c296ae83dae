#pragma once

// Every setting of the terminal, held once in the connector and read by the connections and the
// gateway's environment opening. The router's process record lives here too because the settings
// carry it from the start of the router to its stop; that record is the one place where the
// platform's process type reaches the core.

#include "platform/Process.h"

#include <cstdint>
#include <string>

namespace vorlen {

struct TConnectorSettings {
    std::string appPath;
    std::string RoutPath;
    std::string RegKey;
    std::string RegRecord;
    std::string ServName;
    std::string CGDLLName;
    std::string RoutName;
    std::string RoutIniName;
    std::int32_t Market = 0;
    std::uint32_t TrSpeed = 0;
    std::int32_t StakanCnt = 0;
    std::string CGIniFileName;
    bool IsScheme = false;
    bool Fight = false;
    std::string SubSys;
    std::string LogType;
    std::string LogMinLevel;
    std::string ProgKey;
    std::string ConType;
    std::string Host;
    std::string Port;
    std::string ProgName;
    std::string RoutTOut;
    std::string LocTOut;
    std::string Version;
    std::string BuffSize;
    bool RoutLoad = false;
    std::uintptr_t CGDllHandle = 0;
    TProcInfo ProcInfo{};
    bool isSet = false;
    bool UseScheme = false;
    bool CLTFut = false;
};

} // namespace vorlen
