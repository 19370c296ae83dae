// The gateway's code page against the system's own ANSI converter on a Russian Windows, where
// CP_ACP is 1251: our table must give what Windows gives.

#include "WinTestSupport.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

using namespace vorlen;

namespace {

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string AnsiToUtf8(const std::string& bytes) {
    const int n =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    return platform::Utf8FromWide(wide);
}

std::string Utf8ToAnsi(const std::string& text) {
    const std::wstring wide = platform::WideFromUtf8(text);
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n,
                        nullptr, nullptr);
    return bytes;
}

class AnsiCodePage : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetACP() == 1251) {
            return;
        }
        // Under wine the build sets a Russian locale, so anything else is a fault of the setup.
        ASSERT_FALSE(UnderWine()) << "ANSI code page " << GetACP() << " under wine: is LC_ALL "
                                  << "ru_RU.UTF-8 and is that locale generated?";
        GTEST_SKIP() << "not a Russian Windows: ANSI code page " << GetACP();
    }
};

} // namespace

TEST_F(AnsiCodePage, EveryDefinedByteReadsAsWindowsReadsIt) {
    for (unsigned byte = 1; byte <= 0xFF; ++byte) {
        if (byte == 0x98) {
            continue; // undefined in the code page: Windows passes it through as U+0098
        }
        const std::string one(1, static_cast<char>(byte));
        EXPECT_EQ(platform::Cp1251ToUtf8(one), AnsiToUtf8(one)) << "byte " << byte;
    }
}

TEST_F(AnsiCodePage, GatewayTextIsWrittenAsWindowsWritesIt) {
    for (const std::string text :
         {"Инструменты добавлены.", "Библиотека CGATE не загружена!", "Ёлка ёж № «кавычки» — €",
          "Сервис не найден, роутер не загружен!", "ini=p2cgate.ini;key=K7f3Qz9A"}) {
        EXPECT_EQ(platform::Utf8ToCp1251(text), Utf8ToAnsi(text)) << text;
        EXPECT_EQ(platform::Cp1251ToUtf8(Utf8ToAnsi(text)), text);
    }
}
