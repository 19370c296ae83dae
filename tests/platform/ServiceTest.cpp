#include "platform/Service.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;
using namespace vorlen::platform;

namespace {

class FakeSystemctl {
public:
    explicit FakeSystemctl(const std::string& body) {
        std::string pattern = (fs::temp_directory_path() / "vorlen-svc-XXXXXX").string();
        FDir = mkdtemp(pattern.data());
        Path = (FDir / "systemctl").string();
        std::ofstream(Path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(Path, fs::perms::owner_all);
    }
    ~FakeSystemctl() {
        std::error_code ec;
        fs::remove_all(FDir, ec);
    }
    std::string Path;

private:
    fs::path FDir;
};

} // namespace

TEST(ServiceQuery, AcceptsOnlyUnitNamesSystemdAccepts) {
    EXPECT_TRUE(IsValidUnitName("SpectraCGate.service"));
    EXPECT_TRUE(IsValidUnitName("router@1.service"));
    EXPECT_FALSE(IsValidUnitName(""));
    EXPECT_FALSE(IsValidUnitName("--all"));
    EXPECT_FALSE(IsValidUnitName("a b.service"));
    EXPECT_FALSE(IsValidUnitName("a;reboot.service"));
    EXPECT_FALSE(IsValidUnitName("../x.service"));
    EXPECT_FALSE(IsValidUnitName(std::string(256, 'a')));

    EXPECT_EQ(ServiceUnitName("SpectraCGate"), "SpectraCGate.service");
    EXPECT_EQ(ServiceUnitName("SpectraCGate.service"), "SpectraCGate.service");
}

TEST(ServiceQuery, AsksSystemctlForExactlyThatUnit) {
    FakeSystemctl ctl(R"([ $# -eq 4 ] && [ "$1" = is-active ] && [ "$2" = --quiet ] && )"
                      R"([ "$3" = -- ] && [ "$4" = SpectraCGate.service ])");
    EXPECT_TRUE(SystemdUnitActive(ctl.Path, "SpectraCGate.service", 30000));
    EXPECT_FALSE(SystemdUnitActive(ctl.Path, "Other.service", 30000));
    // Names that could be read as options never reach the program.
    FakeSystemctl yes("exit 0");
    EXPECT_FALSE(SystemdUnitActive(yes.Path, "--version", 30000));
    EXPECT_FALSE(SystemdUnitActive("/nonexistent/systemctl", "SpectraCGate.service", 30000));
}

TEST(ServiceQuery, GivesUpOnAQueryThatHangs) {
    FakeSystemctl ctl("exec sleep 60");
    EXPECT_FALSE(SystemdUnitActive(ctl.Path, "SpectraCGate.service", 100));
}

TEST(ServiceQuery, NothingRunsWhereSystemdDoesNot) {
    if (SystemdRuns()) {
        GTEST_SKIP() << "systemd manages this machine";
    }
    EXPECT_FALSE(IsServiceRunning("127.0.0.1", "SpectraCGate"));
    EXPECT_FALSE(IsServiceRunning("", "ssh"));
}
