#include "gateway/Cgate.h"

#include "platform/CodePage.h"
#include "platform/Module.h"
#include "settings/ConnectorSettings.h"

#include <cstring>
#include <type_traits>
#include <utility>

namespace vorlen {

TCGateEntryPoints& CG() {
    static TCGateEntryPoints table;
    return table;
}

const char* const kCGateEntryNames[34] = {
    "cg_env_open",        "cg_env_close",
    "cg_conn_new",        "cg_conn_destroy",
    "cg_conn_open",       "cg_conn_close",
    "cg_conn_getstate",   "cg_conn_process",
    "cg_lsn_new",         "cg_lsn_destroy",
    "cg_lsn_getstate",    "cg_lsn_open",
    "cg_lsn_close",       "cg_lsn_getscheme",
    "cg_pub_new",         "cg_pub_destroy",
    "cg_pub_open",        "cg_pub_close",
    "cg_pub_getstate",    "cg_pub_getscheme",
    "cg_pub_msgnew",      "cg_pub_msgfree",
    "cg_pub_post",        "cg_err_getstr",
    "cg_log_tracestr",    "cg_log_debugstr",
    "cg_log_infostr",     "cg_log_errorstr",
    "cg_log_warningstr",  "cg_msg_dump",
    "cg_bcd_get",         "cg_getstr",
    "cg_env_getcomp_ver", "cg_env_register_exithandler",
};

namespace {

// Stores a symbol address in one table entry. A copy of the bits, because converting an object
// pointer to a function pointer is only conditionally supported by the language.
template <auto Member>
void Assign(TCGateEntryPoints& table, void* address) {
    using Fn = std::remove_reference_t<decltype(table.*Member)>;
    static_assert(sizeof(Fn) == sizeof(void*));
    Fn fn;
    std::memcpy(&fn, &address, sizeof fn);
    table.*Member = fn;
}

using TAssign = void (*)(TCGateEntryPoints&, void*);

// In the order of kCGateEntryNames.
constexpr TAssign kAssign[34] = {
    Assign<&TCGateEntryPoints::cg_env_open>,
    Assign<&TCGateEntryPoints::cg_env_close>,
    Assign<&TCGateEntryPoints::cg_conn_new>,
    Assign<&TCGateEntryPoints::cg_conn_destroy>,
    Assign<&TCGateEntryPoints::cg_conn_open>,
    Assign<&TCGateEntryPoints::cg_conn_close>,
    Assign<&TCGateEntryPoints::cg_conn_getstate>,
    Assign<&TCGateEntryPoints::cg_conn_process>,
    Assign<&TCGateEntryPoints::cg_lsn_new>,
    Assign<&TCGateEntryPoints::cg_lsn_destroy>,
    Assign<&TCGateEntryPoints::cg_lsn_getstate>,
    Assign<&TCGateEntryPoints::cg_lsn_open>,
    Assign<&TCGateEntryPoints::cg_lsn_close>,
    Assign<&TCGateEntryPoints::cg_lsn_getscheme>,
    Assign<&TCGateEntryPoints::cg_pub_new>,
    Assign<&TCGateEntryPoints::cg_pub_destroy>,
    Assign<&TCGateEntryPoints::cg_pub_open>,
    Assign<&TCGateEntryPoints::cg_pub_close>,
    Assign<&TCGateEntryPoints::cg_pub_getstate>,
    Assign<&TCGateEntryPoints::cg_pub_getscheme>,
    Assign<&TCGateEntryPoints::cg_pub_msgnew>,
    Assign<&TCGateEntryPoints::cg_pub_msgfree>,
    Assign<&TCGateEntryPoints::cg_pub_post>,
    Assign<&TCGateEntryPoints::cg_err_getstr>,
    Assign<&TCGateEntryPoints::cg_log_tracestr>,
    Assign<&TCGateEntryPoints::cg_log_debugstr>,
    Assign<&TCGateEntryPoints::cg_log_infostr>,
    Assign<&TCGateEntryPoints::cg_log_errorstr>,
    Assign<&TCGateEntryPoints::cg_log_warningstr>,
    Assign<&TCGateEntryPoints::cg_msg_dump>,
    Assign<&TCGateEntryPoints::cg_bcd_get>,
    Assign<&TCGateEntryPoints::cg_getstr>,
    Assign<&TCGateEntryPoints::cg_env_getcomp_ver>,
    Assign<&TCGateEntryPoints::cg_env_register_exithandler>,
};

// The table holds exactly the 34 pointers, so a new entry cannot be forgotten above.
static_assert(sizeof(TCGateEntryPoints) == sizeof(kAssign));

} // namespace

std::uintptr_t LoadCGateLibrary(const std::string& fileName, std::string* missing) {
    if (missing)
        missing->clear();
    // The gateway finds its ini and its own libraries relative to the current directory.
    std::string dir = platform::DirectoryOf(fileName, platform::PathSeparator());
#ifdef _WIN32
    // Windows takes "/" as well, and paths from other tools often carry it.
    if (std::string other = platform::DirectoryOf(fileName, '/'); other.size() > dir.size())
        dir = std::move(other);
#endif
    if (!dir.empty())
        platform::SetCurrentDir(dir);

    const platform::ModuleHandle module = platform::LoadModule(fileName);
    if (module < platform::kFirstHandle)
        return module;

    // Bound into a copy first: when a name is missing the library is freed, and the shared
    // table must not be left pointing into it.
    TCGateEntryPoints table;
    for (std::size_t i = 0; i < std::size(kCGateEntryNames); ++i) {
        void* address = platform::ModuleSymbol(module, kCGateEntryNames[i]);
        if (address == nullptr) {
            platform::FreeModule(module);
            if (missing)
                *missing = kCGateEntryNames[i];
            return 0;
        }
        kAssign[i](table, address);
    }
    CG() = table;
    return module;
}

std::string EnvSettingsString(const TConnectorSettings& s) {
    return "ini=" + s.CGIniFileName + ";subsys=" + s.SubSys + ";log=" + s.LogType +
           ";minloglevel=" + s.LogMinLevel + ";key=" + s.ProgKey;
}

std::int32_t CGateVersionValue(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
    // Unsigned arithmetic wraps where the signed sum would overflow; the conversion back to a
    // signed 32-bit value then gives the two's-complement reading.
    return static_cast<std::int32_t>((major << 24) + (minor << 16) + build);
}

TEnvOpenResult OpenCGateEnvironment(const TConnectorSettings& s) {
    const TCGateEntryPoints& cg = CG();
    if (cg.cg_env_open == nullptr)
        return TEnvOpenResult::NotOpened;
    const std::string settings = platform::Utf8ToCp1251(EnvSettingsString(s));
    if (cg.cg_env_open(settings.c_str()) != CG_ERR_OK)
        return TEnvOpenResult::NotOpened;

    std::uint32_t major = 0, minor = 0, build = 0;
    if (cg.cg_env_getcomp_ver == nullptr ||
        cg.cg_env_getcomp_ver("cgate", &major, &minor, &build) != CG_ERR_OK)
        return TEnvOpenResult::VersionUnknown;
    if (CGateVersionValue(major, minor, build) < kMinCGateVersion)
        return TEnvOpenResult::VersionTooOld;
    return TEnvOpenResult::Accepted;
}

} // namespace vorlen
