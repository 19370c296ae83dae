#include "platform/Registry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;
using vorlen::platform::ReadMachineString;
using vorlen::platform::RegistryFileCandidates;
using vorlen::platform::RegistryFilePath;
using vorlen::platform::TRegFile;

namespace {

constexpr const char* kGateKey =
    R"(HKEY_LOCAL_MACHINE\SOFTWARE\Moscow Exchange\SPECTRA Client's Gate)";

std::string Export(const std::string& body) {
    return "Windows Registry Editor Version 5.00\r\n\r\n" + body;
}

// regedit writes its exports as UTF-16LE with a byte-order mark.
std::string AsUtf16Le(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

#ifndef _WIN32
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vorlen-reg-XXXXXX").string();
        Path = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    fs::path Path;
};

// Restores an environment variable when the test ends. Tests run one at a time within their
// program, so the environment has no other writer.
// NOLINTBEGIN(concurrency-mt-unsafe)
class EnvVar {
public:
    EnvVar(const char* name, const std::string* value) : FName(name) {
        if (const char* old = std::getenv(name)) {
            FOld = old;
            FHad = true;
        }
        if (value != nullptr) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvVar() {
        if (FHad) {
            setenv(FName, FOld.c_str(), 1);
        } else {
            unsetenv(FName);
        }
    }

private:
    const char* FName;
    std::string FOld;
    bool FHad = false;
};
// NOLINTEND(concurrency-mt-unsafe)

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

#endif

} // namespace

TEST(RegFile, ReadsEscapedTextAndComparesNamesCaseInsensitively) {
    TRegFile reg;
    ASSERT_TRUE(
        reg.Parse(Export("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Moscow Exchange\\SPECTRA "
                         "Client's Gate]\r\n"
                         "\"InstallDir\"=\"C:\\\\Program Files\\\\SPECTRA \\\"Gate\\\"\\\\\"\r\n"
                         "\"Odd\"=\"a\\tb\"\r\n"
                         "@=\"default\"\r\n")));
    EXPECT_EQ(reg.StringValue(kGateKey, "InstallDir"), R"(C:\Program Files\SPECTRA "Gate"\)");
    EXPECT_EQ(
        reg.StringValue(R"(hkey_local_machine\software\MOSCOW EXCHANGE\spectra client's gate)",
                        "installdir"),
        R"(C:\Program Files\SPECTRA "Gate"\)");
    EXPECT_EQ(
        reg.StringValue(R"(HKLM\SOFTWARE\Moscow Exchange\SPECTRA Client's Gate)", "InstallDir"),
        R"(C:\Program Files\SPECTRA "Gate"\)");
    // Only \\ and \" are escapes in an export; any other backslash is kept.
    EXPECT_EQ(reg.StringValue(kGateKey, "Odd"), "a\\tb");
    EXPECT_EQ(reg.StringValue(kGateKey, ""), "default");
}

TEST(RegFile, FoldsCyrillicNamesAsWindowsDoes) {
    TRegFile reg;
    ASSERT_TRUE(
        reg.Parse(Export("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Биржа Ёлка]\n\"Путь\"=\"D:\\\\Шлюз\"\n")));
    EXPECT_EQ(reg.StringValue("HKEY_LOCAL_MACHINE\\software\\БИРЖА ёЛКА", "ПУТЬ"), "D:\\Шлюз");
}

TEST(RegFile, TellsMissingKeysFromMissingValues) {
    TRegFile reg;
    ASSERT_TRUE(reg.Parse(Export("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gate]\n"
                                 "\"Number\"=dword:00000004\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gate2]\n")));
    EXPECT_TRUE(reg.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gate"));
    EXPECT_FALSE(reg.StringValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gate", "InstallDir"));
    // A number is not a string value.
    EXPECT_FALSE(reg.StringValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gate", "Number"));
    // An export names only the keys inside it; their parents exist all the same.
    EXPECT_TRUE(reg.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor"));
    EXPECT_TRUE(reg.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE"));
    EXPECT_FALSE(reg.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vend"));
    EXPECT_FALSE(reg.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gat"));
    EXPECT_FALSE(reg.HasKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gate\\Sub"));
}

TEST(RegFile, AppliesDeletionsInFileOrder) {
    TRegFile reg;
    ASSERT_TRUE(reg.Parse(Export("[HKEY_LOCAL_MACHINE\\A\\B]\n\"x\"=\"1\"\n\"y\"=\"2\"\n"
                                 "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n"
                                 "[HKEY_LOCAL_MACHINE\\A\\B]\n\"x\"=-\n"
                                 "[-HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"z\"=\"ignored\"\n")));
    EXPECT_FALSE(reg.StringValue("HKEY_LOCAL_MACHINE\\A\\B", "x"));
    EXPECT_EQ(reg.StringValue("HKEY_LOCAL_MACHINE\\A\\B", "y"), "2");
    EXPECT_FALSE(reg.HasKey("HKEY_LOCAL_MACHINE\\A\\B\\C"));
    EXPECT_FALSE(reg.StringValue("HKEY_LOCAL_MACHINE\\A\\B\\C", "z"));
}

TEST(RegFile, ReadsUtf16LittleEndianExports) {
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Шлюз]\r\n"
                                u"\"InstallDir\"=\"C:\\\\Шлюз\\\\\"\r\n";
    TRegFile reg;
    ASSERT_TRUE(reg.Parse(AsUtf16Le(text)));
    EXPECT_EQ(reg.StringValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\шлюз", "InstallDir"), "C:\\Шлюз\\");
}

TEST(RegFile, DecodesExpandableStringsWrittenAsHex) {
    TRegFile reg;
    // "C:\X" as UTF-16LE with its terminating zero, spread over a continuation line.
    ASSERT_TRUE(reg.Parse(Export("[HKEY_LOCAL_MACHINE\\K]\n"
                                 "\"Dir\"=hex(2):43,00,3a,00,5c,00,\\\n"
                                 "  58,00,00,00\n"
                                 "\"Bin\"=hex:01,02\n"
                                 "; a comment that ends in a backslash \\\n"
                                 "\"Plain\"=\"p\"\n")));
    EXPECT_EQ(reg.StringValue("HKEY_LOCAL_MACHINE\\K", "Dir"), "C:\\X");
    EXPECT_EQ(reg.StringValue("HKEY_LOCAL_MACHINE\\K", "Plain"), "p");
    EXPECT_FALSE(reg.StringValue("HKEY_LOCAL_MACHINE\\K", "Bin"));
}

TEST(RegFile, ReadsAnsiRegedit4Exports) {
    TRegFile reg;
    // "Шлюз" in code page 1251.
    ASSERT_TRUE(
        reg.Parse("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"Name\"=\"\xD8\xEB\xFE\xE7\"\r\n"));
    EXPECT_EQ(reg.StringValue("HKEY_LOCAL_MACHINE\\K", "Name"), "Шлюз");
}

TEST(RegFile, RefusesTextWithoutTheExportHeader) {
    TRegFile reg;
    EXPECT_FALSE(reg.Parse("[HKEY_LOCAL_MACHINE\\K]\n\"Name\"=\"x\"\n"));
    EXPECT_FALSE(reg.Parse(""));
    EXPECT_FALSE(reg.HasKey("HKEY_LOCAL_MACHINE\\K"));
}

// Windows reads the registry itself; elsewhere a registry export file stands for it.
#ifndef _WIN32
TEST(MachineRegistry, ReadsTheFileNamedByTheEnvironment) {
    TempDir dir;
    const fs::path file = dir.Path / "machine.reg";
    WriteFile(file, Export(std::string("[") + kGateKey + "]\n\"InstallDir\"=\"/opt/gate/\"\n"));
    const std::string fileName = file.string();
    EnvVar reg("VORLEN_REGISTRY", &fileName);

    std::string out = "stale";
    EXPECT_TRUE(
        ReadMachineString("SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate", "InstallDir", out));
    EXPECT_EQ(out, "/opt/gate/");

    out = "stale";
    EXPECT_TRUE(
        ReadMachineString("software\\moscow exchange\\spectra client's gate", "Missing", out));
    EXPECT_EQ(out, "");

    out = "stale";
    EXPECT_FALSE(ReadMachineString("SOFTWARE\\Nobody", "InstallDir", out));
    EXPECT_EQ(out, "");
}

TEST(MachineRegistry, AnExplicitFileThatIsMissingDoesNotFallThrough) {
    TempDir dir;
    const std::string missing = (dir.Path / "none.reg").string();
    EnvVar reg("VORLEN_REGISTRY", &missing);
    EXPECT_EQ(RegistryFilePath(), missing);
    std::string out;
    EXPECT_FALSE(ReadMachineString("SOFTWARE", "x", out));
}

TEST(MachineRegistry, LooksInTheUserFolderBeforeTheSystemOne) {
    TempDir dir;
    const std::string config = (dir.Path / "config").string();
    EnvVar reg("VORLEN_REGISTRY", nullptr);
    EnvVar xdg("XDG_CONFIG_HOME", &config);

    const auto candidates = RegistryFileCandidates();
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0], config + "/vorlen/registry.reg");
    EXPECT_EQ(candidates[1], "/etc/vorlen/registry.reg");

    fs::create_directories(dir.Path / "config" / "vorlen");
    WriteFile(candidates[0], Export("[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"user\"\n"));
    EXPECT_EQ(RegistryFilePath(), candidates[0]);
    std::string out;
    EXPECT_TRUE(ReadMachineString("K", "v", out));
    EXPECT_EQ(out, "user");

    const std::string home = (dir.Path / "home").string();
    EnvVar noXdg("XDG_CONFIG_HOME", nullptr);
    EnvVar homeVar("HOME", &home);
    EXPECT_EQ(RegistryFileCandidates().front(), home + "/.config/vorlen/registry.reg");
}
#endif
