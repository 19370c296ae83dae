#include "gateway/Cgate.h"

#include "platform/Module.h"
#include "settings/ConnectorSettings.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#if defined(__linux__)
#include <dlfcn.h>
#endif

namespace vorlen {
namespace {

namespace fs = std::filesystem;

// Tests run one at a time within their program, so the environment has no other writer.
// NOLINTBEGIN(concurrency-mt-unsafe)
void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}
// NOLINTEND(concurrency-mt-unsafe)

std::array<std::uintptr_t, 34> EntryBits(const TCGateEntryPoints& t) {
    std::array<std::uintptr_t, 34> bits;
    static_assert(sizeof bits == sizeof t);
    std::memcpy(bits.data(), &t, sizeof t);
    return bits;
}

TConnectorSettings DefaultSettings() {
    TConnectorSettings s;
    s.CGIniFileName = "p2cgate.ini";
    s.SubSys = "mq,replclient";
    s.LogType = "p2:p2syslog";
    s.LogMinLevel = "trace";
    s.ProgKey = "K7f3Qz9A";
    return s;
}

// Each test starts with an empty table and leaves the table and the current directory as it
// found them.
class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedDir = platform::CurrentDir();
        FSavedTable = CG();
        CG() = {};
    }
    void TearDown() override {
        if (FModule >= 32)
            platform::FreeModule(FModule);
        CG() = FSavedTable;
        platform::SetCurrentDir(FSavedDir);
        SetEnv("FAKEGATE_CGATE_VERSION", nullptr);
    }

    std::uintptr_t FModule = 0;
    std::string FSavedDir;
    TCGateEntryPoints FSavedTable;
};

using LoaderTest = GatewayTest;

TEST_F(LoaderTest, FullLibraryFillsEveryEntryWithItsOwnFunction) {
    std::string missing = "stale";
    FModule = LoadCGateLibrary(FAKEGATE_FULL, &missing);
    ASSERT_GE(FModule, 32u);
    EXPECT_EQ(missing, "");
    EXPECT_TRUE(fs::equivalent(platform::CurrentDir(), fs::path(FAKEGATE_FULL).parent_path()));

    for (std::uintptr_t bits : EntryBits(CG()))
        EXPECT_NE(bits, 0u);

    // Every fake answers 1000 + its position, so a name bound to the wrong entry shows here.
    const TCGateEntryPoints& t = CG();
    std::uint32_t u = 0;
    const std::uint32_t answers[34] = {
        t.cg_env_open("not ini"),
        t.cg_env_close(),
        t.cg_conn_new(nullptr, nullptr),
        t.cg_conn_destroy(nullptr),
        t.cg_conn_open(nullptr, nullptr),
        t.cg_conn_close(nullptr),
        t.cg_conn_getstate(nullptr, nullptr),
        t.cg_conn_process(nullptr, 1, nullptr),
        t.cg_lsn_new(nullptr, nullptr, nullptr, nullptr, nullptr),
        t.cg_lsn_destroy(nullptr),
        t.cg_lsn_getstate(nullptr, nullptr),
        t.cg_lsn_open(nullptr, nullptr),
        t.cg_lsn_close(nullptr),
        t.cg_lsn_getscheme(nullptr, nullptr),
        t.cg_pub_new(nullptr, nullptr, nullptr),
        t.cg_pub_destroy(nullptr),
        t.cg_pub_open(nullptr, nullptr),
        t.cg_pub_close(nullptr),
        t.cg_pub_getstate(nullptr, nullptr),
        t.cg_pub_getscheme(nullptr, nullptr),
        t.cg_pub_msgnew(nullptr, CG_KEY_NAME, nullptr, nullptr),
        t.cg_pub_msgfree(nullptr, nullptr),
        t.cg_pub_post(nullptr, nullptr, CG_PUB_NEEDREPLY),
        static_cast<std::uint32_t>(std::stoul(t.cg_err_getstr(0))),
        t.cg_log_tracestr(nullptr),
        t.cg_log_debugstr(nullptr),
        t.cg_log_infostr(nullptr),
        t.cg_log_errorstr(nullptr),
        t.cg_log_warningstr(nullptr),
        t.cg_msg_dump(nullptr, nullptr, nullptr, nullptr),
        t.cg_bcd_get(nullptr, nullptr, nullptr),
        t.cg_getstr(nullptr, nullptr, nullptr, nullptr),
        t.cg_env_getcomp_ver("not cgate", &u, &u, &u),
        t.cg_env_register_exithandler(nullptr, nullptr),
    };
    for (std::uint32_t i = 0; i < 34; ++i)
        EXPECT_EQ(answers[i], 1000 + i) << kCGateEntryNames[i];
}

TEST_F(LoaderTest, LibraryLackingOneNameIsRefusedAndNotKept) {
    struct Case {
        const char* file;
        const char* name;
    };
    for (const Case& c : {Case{FAKEGATE_NO_EXITHANDLER, "cg_env_register_exithandler"},
                          Case{FAKEGATE_NO_ENV_OPEN, "cg_env_open"}}) {
        std::string missing;
        EXPECT_EQ(LoadCGateLibrary(c.file, &missing), 0u) << c.file;
        EXPECT_EQ(missing, c.name);
        // The library is gone, so nothing may point into it.
        for (std::uintptr_t bits : EntryBits(CG()))
            EXPECT_EQ(bits, 0u) << c.name;
#if defined(__linux__)
        void* still = dlopen(c.file, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(still, nullptr) << c.file << " stayed loaded";
        if (still)
            dlclose(still);
#endif
    }
    EXPECT_EQ(LoadCGateLibrary(FAKEGATE_NO_EXITHANDLER), 0u); // no one asked for the name
}

TEST_F(LoaderTest, RefusedLibraryLeavesAnEarlierTableAlone) {
    FModule = LoadCGateLibrary(FAKEGATE_FULL);
    ASSERT_GE(FModule, 32u);
    const auto before = EntryBits(CG());
    EXPECT_EQ(LoadCGateLibrary(FAKEGATE_NO_EXITHANDLER), 0u);
    EXPECT_EQ(EntryBits(CG()), before);
}

TEST_F(LoaderTest, MissingFileGivesZero) {
    const fs::path dir = fs::path(FAKEGATE_FULL).parent_path();
    std::string missing = "stale";
    EXPECT_EQ(LoadCGateLibrary((dir / "no_such_gateway_library").string(), &missing), 0u);
    EXPECT_EQ(missing, "");
    EXPECT_EQ(CG().cg_env_open, nullptr);
    // The directory is made current before the load is tried.
    EXPECT_TRUE(fs::equivalent(platform::CurrentDir(), dir));
}

TEST_F(LoaderTest, LoadedLibraryOpensTheEnvironment) {
    FModule = LoadCGateLibrary(FAKEGATE_FULL);
    ASSERT_GE(FModule, 32u);
    SetEnv("FAKEGATE_CGATE_VERSION", "6.60.0");
    EXPECT_EQ(OpenCGateEnvironment(DefaultSettings()), TEnvOpenResult::Accepted);
    SetEnv("FAKEGATE_CGATE_VERSION", "6.59.9999");
    EXPECT_EQ(OpenCGateEnvironment(DefaultSettings()), TEnvOpenResult::VersionTooOld);
    SetEnv("FAKEGATE_CGATE_VERSION", nullptr);
    EXPECT_EQ(OpenCGateEnvironment(DefaultSettings()), TEnvOpenResult::VersionUnknown);
}

// What the fake entry points below were asked and will answer.
struct TFakeEnv {
    std::uint32_t OpenResult = CG_ERR_OK;
    std::string OpenedWith;
    std::uint32_t VersionResult = CG_ERR_OK;
    std::uint32_t Major = 0, Minor = 0, Build = 0;
    std::string Component;
    int VersionCalls = 0;
};
TFakeEnv gFake;

std::uint32_t CG_CALL FakeEnvOpen(const char* settings) {
    gFake.OpenedWith = settings;
    return gFake.OpenResult;
}

std::uint32_t CG_CALL FakeGetCompVer(const char* component, std::uint32_t* major,
                                     std::uint32_t* minor, std::uint32_t* build) {
    ++gFake.VersionCalls;
    gFake.Component = component;
    *major = gFake.Major;
    *minor = gFake.Minor;
    *build = gFake.Build;
    return gFake.VersionResult;
}

class EnvironmentTest : public GatewayTest {
protected:
    void SetUp() override {
        GatewayTest::SetUp();
        gFake = {};
        CG().cg_env_open = FakeEnvOpen;
        CG().cg_env_getcomp_ver = FakeGetCompVer;
    }
    TEnvOpenResult OpenWithVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
        gFake.Major = major;
        gFake.Minor = minor;
        gFake.Build = build;
        return OpenCGateEnvironment(DefaultSettings());
    }
};

TEST_F(EnvironmentTest, AcceptsSixSixtyAndNewer) {
    EXPECT_EQ(OpenWithVersion(6, 60, 0), TEnvOpenResult::Accepted);
    EXPECT_EQ(gFake.Component, "cgate");
    EXPECT_EQ(OpenWithVersion(7, 0, 0), TEnvOpenResult::Accepted);
    EXPECT_EQ(OpenWithVersion(6, 61, 3), TEnvOpenResult::Accepted);
    // The build number is added, not kept apart: 6.59 build 65536 is 6.60.0.
    EXPECT_EQ(OpenWithVersion(6, 59, 65536), TEnvOpenResult::Accepted);
}

TEST_F(EnvironmentTest, RefusesOlderVersions) {
    EXPECT_EQ(OpenWithVersion(6, 59, 9999), TEnvOpenResult::VersionTooOld);
    EXPECT_EQ(OpenWithVersion(6, 59, 65535), TEnvOpenResult::VersionTooOld);
    EXPECT_EQ(OpenWithVersion(5, 99, 0), TEnvOpenResult::VersionTooOld);
    EXPECT_EQ(OpenWithVersion(0, 0, 0), TEnvOpenResult::VersionTooOld);
    // The value is signed: a major of 128 or more reads as negative.
    EXPECT_EQ(OpenWithVersion(128, 0, 0), TEnvOpenResult::VersionTooOld);
}

TEST_F(EnvironmentTest, FailuresAreToldApart) {
    gFake.OpenResult = CG_ERR_INTERNAL;
    EXPECT_EQ(OpenWithVersion(7, 0, 0), TEnvOpenResult::NotOpened);
    EXPECT_EQ(gFake.VersionCalls, 0);

    gFake.OpenResult = CG_ERR_OK;
    gFake.VersionResult = CG_ERR_INVALIDARGUMENT;
    EXPECT_EQ(OpenWithVersion(7, 0, 0), TEnvOpenResult::VersionUnknown);

    CG().cg_env_getcomp_ver = nullptr;
    EXPECT_EQ(OpenWithVersion(7, 0, 0), TEnvOpenResult::VersionUnknown);
    CG().cg_env_open = nullptr;
    EXPECT_EQ(OpenWithVersion(7, 0, 0), TEnvOpenResult::NotOpened);
}

TEST_F(EnvironmentTest, SettingsReachTheGatewayInItsCodePage) {
    const TConnectorSettings s = DefaultSettings();
    EXPECT_EQ(EnvSettingsString(s), "ini=p2cgate.ini;subsys=mq,replclient;log=p2:p2syslog;"
                                    "minloglevel=trace;key=K7f3Qz9A");
    OpenWithVersion(7, 0, 0);
    EXPECT_EQ(gFake.OpenedWith, EnvSettingsString(s));

    TConnectorSettings production = s;
    production.ProgKey.clear();
    EXPECT_EQ(EnvSettingsString(production), "ini=p2cgate.ini;subsys=mq,replclient;"
                                             "log=p2:p2syslog;minloglevel=trace;key=");

    TConnectorSettings cyrillic = s;
    cyrillic.CGIniFileName = "шлюз.ini";
    OpenCGateEnvironment(cyrillic);
    EXPECT_EQ(gFake.OpenedWith.substr(0, 8), "ini=\xF8\xEB\xFE\xE7");
}

TEST(CGateVersionValue, IsASignedThirtyTwoBitSum) {
    EXPECT_EQ(CGateVersionValue(6, 60, 0), kMinCGateVersion);
    EXPECT_EQ(CGateVersionValue(6, 59, 65536), kMinCGateVersion);
    EXPECT_EQ(CGateVersionValue(6, 59, 9999), kMinCGateVersion - 65536 + 9999);
    EXPECT_EQ(CGateVersionValue(0x80, 0, 0), INT32_MIN);
    EXPECT_EQ(CGateVersionValue(0xFF, 0xFF, 0xFFFF), -1);
    EXPECT_EQ(CGateVersionValue(0x100, 0, 5), 5);
}

} // namespace
} // namespace vorlen
