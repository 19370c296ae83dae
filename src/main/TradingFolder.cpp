#include "main/TradingFolder.h"

#include "main/TerminalDesk.h"
#include "orders/OrderLogFile.h"
#include "orders/RiskLimits.h"
#include "platform/OwnerFile.h"
#include "settings/SavedSettings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vorlen {

namespace fs = std::filesystem;

fs::path TraderDataDir(const fs::path& userDir, const fs::path& fallback, bool& fromEnvironment) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read at start, before any thread of ours.
    const char* env = std::getenv("VORLEN_DATA_DIR");
    fromEnvironment = env != nullptr && *env != '\0';
    if (fromEnvironment)
        return TradingDataDir(fallback);
    return userDir.empty() ? fallback : userDir;
}

TAdoption AdoptOldTradingFiles(const fs::path& oldDir, const fs::path& dataDir,
                               std::chrono::system_clock::time_point now) {
    TAdoption result;
    std::vector<std::string>& texts = result.Texts;
    std::error_code ec;
    if (oldDir.empty() || dataDir.empty() || fs::equivalent(oldDir, dataDir, ec))
        return result;
    const fs::path limits = fs::path(orders::kLimitsFileName);
    const fs::path log = orders::TOrderLogFile(fs::path()).FileFor(now);
    for (const fs::path& name : {limits, log}) {
        const fs::path from = oldDir / name;
        const fs::path to = dataDir / name;
        // A file of its own, even a damaged one, is the trader's: never overwritten.
        if (!fs::is_regular_file(from, ec) || fs::exists(fs::symlink_status(to, ec)))
            continue;
        std::ifstream in(from, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        fs::create_directories(dataDir, ec);
        // Whole or not at all: a limits file cut short by a kill would read as looser limits.
        fs::path part = to;
        part += ".part";
        bool copied = in.good() && platform::WriteOwnerOnlyFile(part, bytes.str());
        if (copied) {
            fs::rename(part, to, ec);
            copied = !ec;
        }
        if (!copied)
            fs::remove(part, ec);
        const bool isLimits = name == limits;
        if (!copied) {
            result.Failed = true;
            texts.push_back(
                "Ошибка: " + std::string(isLimits ? "файл лимитов " : "журнал заявок за день ") +
                PathToUtf8(from) + " не перенесен в папку данных " + PathToUtf8(dataDir) +
                ": лимиты и журнал заявок в этот раз остаются в папке " + PathToUtf8(oldDir) + ".");
            continue;
        }
        texts.push_back(std::string(isLimits ? "Файл лимитов " : "Журнал заявок за день ") +
                        PathToUtf8(from) + " перенесен в папку данных " + PathToUtf8(dataDir) +
                        "; дальше используется " + PathToUtf8(to) + ".");
    }
    return result;
}

} // namespace vorlen
