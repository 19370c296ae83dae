#include "orders/OrderLogFile.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

namespace vorlen::orders {
namespace {

namespace fs = std::filesystem;

TEST(OrderLogFileTest, EveryEntryStaysOneLineWhateverItsTextHolds) {
    const fs::path dir =
        fs::temp_directory_path() / ("vorlen-orderlog-" + std::to_string(getpid()));
    fs::create_directories(dir);
    TOrderLogFile log(dir);
    const auto now = std::chrono::system_clock::now();
    const struct {
        std::string Text;
        std::string Written;
    } cases[] = {
        {"Заявка: покупка Si-3.27 1 по 92000, клиент FZ00001.",
         "Заявка: покупка Si-3.27 1 по 92000, клиент FZ00001."},
        {"клиент A\n01.01.2026 10:00:00.000 --> Заявка отправлена, транзакция 424242.",
         "клиент A\\n01.01.2026 10:00:00.000 --> Заявка отправлена, транзакция 424242."},
        {std::string("a\r\x01\x7f\tb\0c", 8), "a\\r??\tb?c"},
    };
    std::string expected;
    for (const auto& c : cases) {
        ASSERT_TRUE(log.Append(c.Text, now));
        expected += c.Written + "\n";
    }
    std::stringstream all;
    {
        // Closed before the folder goes: Windows deletes no file that is open.
        std::ifstream in(log.FileFor(now), std::ios::binary);
        all << in.rdbuf();
    }
    EXPECT_EQ(all.str(), expected);
    fs::remove_all(dir);
}

} // namespace
} // namespace vorlen::orders
