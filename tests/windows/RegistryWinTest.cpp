// The installation folder read from the real registry, as the connector reads it.

#include "WinTestSupport.h"
#include "connector/Connector.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

using namespace vorlen;
using namespace vorlen::wintest;

TEST(MachineRegistry, ReadsAStringValueWithItsRussianLetters) {
    MachineKey key;
    VORLEN_REQUIRE_MACHINE_KEY(key);
    ASSERT_EQ(key.SetText("InstallDir", "C:\\Торги\\SPECTRA CGate\\"), ERROR_SUCCESS);
    std::string out = "stale";
    EXPECT_TRUE(platform::ReadMachineString(key.Path, "InstallDir", out));
    EXPECT_EQ(out, "C:\\Торги\\SPECTRA CGate\\");
    // Key and value names compare as Windows compares them.
    out = "stale";
    std::string upper = key.Path;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_TRUE(platform::ReadMachineString(upper, "INSTALLDIR", out));
    EXPECT_EQ(out, "C:\\Торги\\SPECTRA CGate\\");
}

TEST(MachineRegistry, AMissingValueIsEmptyAndAMissingKeyIsAFailure) {
    MachineKey key;
    VORLEN_REQUIRE_MACHINE_KEY(key);
    const DWORD number = 5;
    ASSERT_EQ(key.SetRaw("Number", REG_DWORD, &number, sizeof number), ERROR_SUCCESS);

    std::string out = "stale";
    EXPECT_TRUE(platform::ReadMachineString(key.Path, "InstallDir", out));
    EXPECT_EQ(out, "");
    out = "stale";
    EXPECT_TRUE(platform::ReadMachineString(key.Path, "Number", out)) << "not a string";
    EXPECT_EQ(out, "");
    out = "stale";
    EXPECT_FALSE(platform::ReadMachineString(key.Path + "\\Missing", "InstallDir", out));
    EXPECT_EQ(out, "");
}

TEST(MachineRegistry, TakesStoredTextAsItIsWithOrWithoutItsTerminatingZero) {
    MachineKey key;
    VORLEN_REQUIRE_MACHINE_KEY(key);
    // Written by a program that left the zero out: nothing past the data may be read.
    const std::wstring bare = L"D:\\CGate\\";
    ASSERT_EQ(
        key.SetRaw("Bare", REG_SZ, bare.data(), static_cast<DWORD>(bare.size() * sizeof(wchar_t))),
        ERROR_SUCCESS);
    // Expandable text is handed over unexpanded, as the registry holds it.
    ASSERT_EQ(key.SetText("Expand", "%ProgramFiles%\\CGate\\", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(key.SetText("Empty", ""), ERROR_SUCCESS);

    std::string out;
    EXPECT_TRUE(platform::ReadMachineString(key.Path, "Bare", out));
    EXPECT_EQ(out, "D:\\CGate\\");
    EXPECT_TRUE(platform::ReadMachineString(key.Path, "Expand", out));
    EXPECT_EQ(out, "%ProgramFiles%\\CGate\\");
    out = "stale";
    EXPECT_TRUE(platform::ReadMachineString(key.Path, "Empty", out));
    EXPECT_EQ(out, "");
}

TEST(MachineRegistry, TheConnectorTurnsTheInstallationFolderIntoTheRoutersFolder) {
    MachineKey key;
    VORLEN_REQUIRE_MACHINE_KEY(key);
    TCGConnector connector;

    ASSERT_EQ(key.SetText("InstallDir", "C:\\Торги\\SPECTRA\\"), ERROR_SUCCESS);
    EXPECT_EQ(connector.GetCGRouterPath(key.Path, "InstallDir"), "C:\\Торги\\SPECTRA\\bin\\");
    ASSERT_EQ(key.SetText("InstallDir", "C:\\CGate\\bin\\"), ERROR_SUCCESS);
    EXPECT_EQ(connector.GetCGRouterPath(key.Path, "InstallDir"), "C:\\CGate\\bin\\");
    EXPECT_EQ(connector.GetCGRouterPath(key.Path, "NoSuchValue"), "");
    EXPECT_EQ(connector.GetCGRouterPath(key.Path + "\\Missing", "InstallDir"), "");
}
