#include "platform/Module.h"

#include <gtest/gtest.h>

namespace vorlen::platform {
namespace {

TEST(PathTest, DirectoryOfWithEitherSeparator) {
    EXPECT_EQ(DirectoryOf("C:\\Gate\\bin\\cgate64.dll", '\\'), "C:\\Gate\\bin\\");
    EXPECT_EQ(DirectoryOf("/opt/gate/bin/libcgate.so", '/'), "/opt/gate/bin/");
    EXPECT_EQ(DirectoryOf("C:\\Gate\\bin\\", '\\'), "C:\\Gate\\bin\\");
    EXPECT_EQ(DirectoryOf("/", '/'), "/");
    // Only the separator asked for counts: the other one is an ordinary character.
    EXPECT_EQ(DirectoryOf("C:\\Gate\\bin\\cgate64.dll", '/'), "");
    EXPECT_EQ(DirectoryOf("/opt/gate\\bin/x", '\\'), "/opt/gate\\");
    EXPECT_EQ(DirectoryOf("cgate64.dll", '\\'), "");
    EXPECT_EQ(DirectoryOf("", '/'), "");
}

TEST(ModuleTest, MissingOrEmptyFileNameLoadsNothing) {
#ifdef _WIN32
    const char* missing = "C:\\no-such-folder-vorlen\\no_such_gateway.dll";
#else
    const char* missing = "/no-such-folder-vorlen/libno_such_gateway.so";
#endif
    EXPECT_EQ(LoadModule(missing), 0u);
    EXPECT_FALSE(LastLoaderError().empty());
    // An empty name must not hand back the program itself.
    EXPECT_EQ(LoadModule(""), 0u);
    EXPECT_EQ(LoadModule(std::string("libm.so.6\0x", 11)), 0u);

    EXPECT_EQ(ModuleSymbol(0, "malloc"), nullptr);
    FreeModule(0);
}

TEST(ModuleTest, LoadsASystemLibraryAndFindsItsSymbols) {
#ifdef _WIN32
    const ModuleHandle module = LoadModule("kernel32.dll");
    const char* present = "GetCurrentProcessId";
#else
    const ModuleHandle module = LoadModule("libm.so.6");
    const char* present = "cos";
#endif
    ASSERT_NE(module, 0u) << LastLoaderError();
    EXPECT_NE(ModuleSymbol(module, present), nullptr);
    EXPECT_EQ(ModuleSymbol(module, "no_such_entry_point_vorlen"), nullptr);
    EXPECT_FALSE(LastLoaderError().empty());
    EXPECT_EQ(ModuleSymbol(module, nullptr), nullptr);
    FreeModule(module);
}

TEST(ModuleTest, ExecutableDirAndCurrentDirAgree) {
    const std::string exeDir = ExecutableDir();
    ASSERT_FALSE(exeDir.empty());
    EXPECT_EQ(exeDir.back(), PathSeparator());

    const std::string before = CurrentDir();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(SetCurrentDir(exeDir));
    const std::string now = CurrentDir();
    EXPECT_EQ(DirectoryOf(now + PathSeparator(), PathSeparator()), exeDir);

    EXPECT_FALSE(SetCurrentDir(exeDir + "no-such-subfolder-vorlen"));
    EXPECT_FALSE(SetCurrentDir(""));
    EXPECT_EQ(CurrentDir(), now);
    EXPECT_TRUE(SetCurrentDir(before));
}

} // namespace
} // namespace vorlen::platform
