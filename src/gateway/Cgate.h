#pragma once

// The process-wide table of the gateway's entry points, the loader that fills it, and the opening
// of the gateway environment.

#include "gateway/GatewayCInterface.h"

#include <cstdint>
#include <string>

namespace vorlen {

struct TConnectorSettings;

// One pointer per gateway function, filled by LoadCGateLibrary on the UI thread before any
// connection thread starts and only read afterwards. Tests fill it with fakes directly.
struct TCGateEntryPoints {
    cg_env_open_t cg_env_open = nullptr;
    cg_env_close_t cg_env_close = nullptr;
    cg_conn_new_t cg_conn_new = nullptr;
    cg_conn_destroy_t cg_conn_destroy = nullptr;
    cg_conn_open_t cg_conn_open = nullptr;
    cg_conn_close_t cg_conn_close = nullptr;
    cg_conn_getstate_t cg_conn_getstate = nullptr;
    cg_conn_process_t cg_conn_process = nullptr;
    cg_lsn_new_t cg_lsn_new = nullptr;
    cg_lsn_destroy_t cg_lsn_destroy = nullptr;
    cg_lsn_getstate_t cg_lsn_getstate = nullptr;
    cg_lsn_open_t cg_lsn_open = nullptr;
    cg_lsn_close_t cg_lsn_close = nullptr;
    cg_lsn_getscheme_t cg_lsn_getscheme = nullptr;
    cg_pub_new_t cg_pub_new = nullptr;
    cg_pub_destroy_t cg_pub_destroy = nullptr;
    cg_pub_open_t cg_pub_open = nullptr;
    cg_pub_close_t cg_pub_close = nullptr;
    cg_pub_getstate_t cg_pub_getstate = nullptr;
    cg_pub_getscheme_t cg_pub_getscheme = nullptr;
    cg_pub_msgnew_t cg_pub_msgnew = nullptr;
    cg_pub_msgfree_t cg_pub_msgfree = nullptr;
    cg_pub_post_t cg_pub_post = nullptr;
    cg_err_getstr_t cg_err_getstr = nullptr;
    cg_log_tracestr_t cg_log_tracestr = nullptr;
    cg_log_debugstr_t cg_log_debugstr = nullptr;
    cg_log_infostr_t cg_log_infostr = nullptr;
    cg_log_errorstr_t cg_log_errorstr = nullptr;
    cg_log_warningstr_t cg_log_warningstr = nullptr;
    cg_msg_dump_t cg_msg_dump = nullptr;
    cg_bcd_get_t cg_bcd_get = nullptr;
    cg_getstr_t cg_getstr = nullptr;
    cg_env_getcomp_ver_t cg_env_getcomp_ver = nullptr;
    cg_env_register_exithandler_t cg_env_register_exithandler = nullptr;
};

// The table itself.
TCGateEntryPoints& CG();

// The 34 names in binding order.
extern const char* const kCGateEntryNames[34];

// Makes the library's directory current, loads it and binds the 34 names. Returns the module
// handle, or 0 on failure. When a name is missing the library is freed again and `missing`
// (if given) receives that name.
std::uintptr_t LoadCGateLibrary(const std::string& fileName, std::string* missing = nullptr);

// The environment settings string built from the settings record.
std::string EnvSettingsString(const TConnectorSettings& s);

enum class TEnvOpenResult {
    NotOpened,      // cg_env_open failed: the connect command ends silently
    VersionUnknown, // opened, cg_env_getcomp_ver failed
    VersionTooOld,  // opened, older than 6.60.0
    Accepted,       // opened and accepted
};

// The version value: (major << 24) + (minor << 16) + build, as a signed 32-bit number.
std::int32_t CGateVersionValue(std::uint32_t major, std::uint32_t minor, std::uint32_t build);
constexpr std::int32_t kMinCGateVersion = (6 << 24) + (60 << 16);

// Opens the gateway environment and checks its version; shows nothing itself.
TEnvOpenResult OpenCGateEnvironment(const TConnectorSettings& s);

} // namespace vorlen
