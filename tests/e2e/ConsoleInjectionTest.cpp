// Settings files that try to make the terminal run something other than the router: the console
// refuses them or fails to start a program of that odd name, and no command of theirs runs.

#include "SimHarness.h"

#include <fstream>
#include <gtest/gtest.h>

namespace vorlen::e2e {

namespace {

// The settings file of `inst` with one of its lines replaced.
fs::path SettingsWithLine(const TSimInstall& inst, std::size_t index, const std::string& text) {
    std::vector<std::string> lines = SplitLines(ReadFile(inst.SettingsFile));
    lines.at(index) = text;
    fs::path file = inst.Root / "hostile.sav";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) {
        out << line << '\n';
    }
    return file;
}

struct Attempt {
    std::size_t Line; // 2: the library's name, 3: the router's name
    std::string Text;
    std::string Error; // the box the console reports on standard error
};

} // namespace

TEST(ConsoleInjection, AHostileSettingsFileStartsNothingAndCreatesNoFile) {
    const std::string up = "../../../../../../../../../../..";
    const std::string badRouter =
        "ОШИБКА: Имя роутера должно быть именем файла без пути, \"..\", кавычек и управляющих "
        "символов!";
    const std::string badLibrary =
        "ОШИБКА: Имя библиотеки CGATE должно быть именем файла без пути, \"..\", кавычек и "
        "управляющих символов!";
    const std::string notStarted = "ОШИБКА: Сервис не найден, роутер не загружен!";
    const std::vector<Attempt> attempts = {
        {3, up + R"(/bin/sh" -c "id > MARK" ")", badRouter},
        {3, R"(P2MQRouter64.exe" -c "id > MARK" ")", badRouter},
        {3, R"(P2MQRouter64.exe\" -c \"id > MARK\" \")", badRouter},
        {3, "P2MQRouter64.exe; id > marker", notStarted},
        {3, "$(id > marker)", notStarted},
        {3, "`id > marker`", notStarted},
        {2, up + "/tmp/evil.so", badLibrary},
        {2, R"(cgate64.dll" x)", badLibrary},
    };
    for (const Attempt& a : attempts) {
        TSimInstall inst(0);
        const fs::path mark = inst.Root / "marker";
        std::string text = a.Text;
        if (const std::size_t at = text.find("MARK"); at != std::string::npos) {
            text.replace(at, 4, mark.string());
        }
        const fs::path sav = SettingsWithLine(inst, a.Line, text);
        TConsoleRun run(inst, {"--settings", sav.string(), "--seconds", "20"});
        ASSERT_TRUE(run.Started());
        const std::optional<int> code = run.Wait(60s);
        ASSERT_TRUE(code.has_value()) << text;
        EXPECT_NE(*code, 0) << text;
        EXPECT_NE(run.Stderr().find(a.Error), std::string::npos) << text << "\n" << run.Stderr();
        for (const fs::path& p : {mark, inst.Root / "bin" / "marker", fs::path("marker")}) {
            EXPECT_FALSE(fs::exists(p)) << text << ": " << p;
        }
        // No router either: the console never got as far as one.
        EXPECT_EQ(inst.Control("ping"), "") << text;
    }
}

} // namespace vorlen::e2e
