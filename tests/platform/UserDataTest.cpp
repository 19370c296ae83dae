// The user's data folder by the rules of both systems, whatever system runs the test.

#include "platform/UserData.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace vorlen::platform {
namespace {

namespace fs = std::filesystem;

struct TDirCase {
    const char* Name;
    TDataDirRules Rules;
    std::map<std::string, std::string> Env;
    const char* Expected; // with '/' between the parts
};

class UserDataDirRules : public ::testing::TestWithParam<TDirCase> {};

TEST_P(UserDataDirRules, PicksTheFolderTheSystemExpects) {
    const TDirCase& c = GetParam();
    const TEnvLookup env = [&c](const char* name) -> std::optional<fs::path> {
        const auto it = c.Env.find(name);
        if (it == c.Env.end() || it->second.empty())
            return std::nullopt;
        return fs::path(it->second);
    };
    EXPECT_EQ(UserDataDirFrom(env, c.Rules).generic_string(), c.Expected);
}

using R = TDataDirRules;
INSTANTIATE_TEST_SUITE_P(
    Cases, UserDataDirRules,
    ::testing::Values(
        TDirCase{"Xdg", R::Posix, {{"XDG_DATA_HOME", "/x/d"}, {"HOME", "/h"}}, "/x/d/vorlen"},
        TDirCase{"HomeWithoutXdg", R::Posix, {{"HOME", "/h"}}, "/h/.local/share/vorlen"},
        TDirCase{"EmptyXdg",
                 R::Posix,
                 {{"XDG_DATA_HOME", ""}, {"HOME", "/h"}},
                 "/h/.local/share/vorlen"},
        TDirCase{"RelativeXdgIsIgnored",
                 R::Posix,
                 {{"XDG_DATA_HOME", "rel"}, {"HOME", "/h"}},
                 "/h/.local/share/vorlen"},
        TDirCase{"NoHomeAtAll", R::Posix, {}, ""},
        TDirCase{"LocalAppData",
                 R::Windows,
                 {{"LOCALAPPDATA", "/c/L"}, {"USERPROFILE", "/c/u"}},
                 "/c/L/Vorlen"},
        TDirCase{"ProfileWithoutLocalAppData",
                 R::Windows,
                 {{"USERPROFILE", "/c/u"}},
                 "/c/u/AppData/Local/Vorlen"},
        TDirCase{"WindowsIgnoresXdg", R::Windows, {{"XDG_DATA_HOME", "/x"}}, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace vorlen::platform
