// Loading the gateway library with LoadLibrary once its folder is the current directory: the
// gateway's companion DLLs are found through that directory and nowhere else.

#include "WinTestSupport.h"
#include "gateway/Cgate.h"
#include "platform/Module.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <gtest/gtest.h>

using namespace vorlen;
using namespace vorlen::wintest;

namespace {

class GatewayLoad : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedDir = platform::CurrentDir();
        FSavedTable = CG();
        CG() = {};
    }
    void TearDown() override {
        if (FModule >= 32) {
            platform::FreeModule(FModule);
        }
        CG() = FSavedTable;
        platform::SetCurrentDir(FSavedDir);
    }

    bool EveryEntryBound() const {
        for (const char* name : kCGateEntryNames) {
            if (platform::ModuleSymbol(FModule, name) == nullptr) {
                return false;
            }
        }
        std::array<std::uintptr_t, 34> entries;
        static_assert(sizeof entries == sizeof(TCGateEntryPoints));
        std::memcpy(entries.data(), &CG(), sizeof entries);
        return std::find(entries.begin(), entries.end(), 0u) == entries.end();
    }

    std::uintptr_t FModule = 0;
    std::string FSavedDir;
    TCGateEntryPoints FSavedTable;
    // Removed only after TearDown has moved the process out of it: Windows does not delete the
    // current directory of a running process.
    TempFolder FFolder;
};

} // namespace

TEST_F(GatewayLoad, FindsTheLibrarysCompanionThroughTheDirectoryItMakesCurrent) {
    const fs::path gate = BuiltPath(VORLEN_PROBE_GATE);
    ASSERT_TRUE(platform::SetCurrentDir(Utf8(FFolder.Root)));
    // From anywhere else the companion is not found, so the directory change is what makes the
    // load succeed.
    const platform::ModuleHandle direct = platform::LoadModule(Utf8(gate));
    EXPECT_EQ(direct, 0u) << "the companion DLL was found without the directory change";
    platform::FreeModule(direct);

    std::string missing = "stale";
    FModule = LoadCGateLibrary(Utf8(gate), &missing);
    ASSERT_GE(FModule, 32u) << platform::LastLoaderError();
    EXPECT_EQ(missing, "");
    EXPECT_TRUE(
        SameFolder(fs::path(platform::WideFromUtf8(platform::CurrentDir())), gate.parent_path()));
    EXPECT_TRUE(EveryEntryBound());
    // The entry really runs the companion's code.
    const auto answer =
        reinterpret_cast<unsigned (*)()>(platform::ModuleSymbol(FModule, "cg_getstr"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42u);
}

TEST_F(GatewayLoad, BindsAllNamesOfTheSimulatorsGatewayLibrary) {
    // The Windows build of the simulator's cgate64.dll: its 34 names undecorated, and nothing it
    // needs outside the system's own DLLs.
    const fs::path gate = BuiltPath(VORLEN_SIM_GATEWAY_DIR) / "bin" / "cgate64.dll";
    ASSERT_TRUE(fs::exists(gate));
    std::string missing = "stale";
    FModule = LoadCGateLibrary(Utf8(gate), &missing);
    ASSERT_GE(FModule, 32u) << platform::LastLoaderError() << " missing: " << missing;
    EXPECT_EQ(missing, "");
    EXPECT_TRUE(EveryEntryBound());
    EXPECT_TRUE(
        SameFolder(fs::path(platform::WideFromUtf8(platform::CurrentDir())), gate.parent_path()));
}

TEST_F(GatewayLoad, ALibraryThatIsNotThereGivesZeroAndTheSystemsReason) {
    FModule = LoadCGateLibrary(Utf8(FFolder.Root / "cgate64.dll"));
    EXPECT_EQ(FModule, 0u);
    EXPECT_NE(platform::LastLoaderError().find("error 126"), std::string::npos)
        << platform::LastLoaderError();
}
