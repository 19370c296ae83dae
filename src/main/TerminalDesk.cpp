#include "main/TerminalDesk.h"

#include "book/BookKeeper.h"
#include "connections/TrConnection.h"
#include "platform/OwnerFile.h"
#include "settings/SavedSettings.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vorlen {

orders::TLinkHealth DeskLinkHealth(const THealthMonitor* health, THealthLink link) {
    if (health == nullptr) {
        return orders::TLinkHealth::Offline;
    }
    const THealthState state = health->State(link);
    if (state == THealthState::Online) {
        return orders::TLinkHealth::Online;
    }
    return state == THealthState::Stale ? orders::TLinkHealth::Stale : orders::TLinkHealth::Offline;
}

std::optional<std::int64_t> BestOppositeUnits(const TBookKeeper& books, std::int32_t isinId,
                                              orders::TSide side) {
    // A buy trades against the asks, a sell against the bids.
    const std::optional<double> best = books.BestPrice(isinId, side == orders::TSide::Buy);
    if (!best) {
        return std::nullopt;
    }
    return std::llround(*best * static_cast<double>(orders::kPriceScale));
}

TTerminalDesk::TTerminalDesk(TTerminalDeskParts parts)
    : FParts(std::move(parts)), FReader(std::make_unique<orders::TStoreReader>(*FParts.Store)),
      FLog(FParts.Dir), FFolderLock(FParts.Dir / kFolderLockName) {
    orders::TLimitsBook limits;
    std::string error;
    bool limitsRead = true;
    if (FParts.Limits) {
        limits = std::move(*FParts.Limits);
        FParts.Limits.reset();
    } else {
        limitsRead = LoadLimitsFile(FParts.Dir, limits, error);
    }
    const THealthMonitor* health = FParts.Health;
    FTransport = std::make_unique<orders::TTrTransport>(*FParts.Transactions, [health] {
        return DeskLinkHealth(health, THealthLink::Transactions);
    });

    orders::TDeskInputs in;
    in.Facts = [this] {
        // The desk lists the active orders itself when it needs them (cancels, the kill
        // switch); an order needs only the reader's counts.
        orders::TStoreFacts facts = FReader->Read(false, false);
        FRef = facts.Ref;
        return facts;
    };
    in.FactsChanged = [this] { return FReader->Changed(); };
    in.MarketData = [health] { return DeskLinkHealth(health, THealthLink::MarketData); };
    if (FParts.Books != nullptr) {
        in.BestOpposite = [this](const std::string& isin, orders::TSide side) {
            return BestOpposite(isin, side);
        };
    }
    in.StopStrategies = FParts.StopStrategies;
    FDesk = std::make_unique<orders::TOrderDesk>(*FTransport, std::move(limits), std::move(in),
                                                 FParts.Journal, &FLog);
    // The built-in limits may be looser than what the damaged file meant: nothing trades until
    // the trader has limits they wrote.
    if (!limitsRead) {
        FDesk->BlockUntilLimits("Лимиты заявок не прочитаны: заявки не принимаются, пока файл " +
                                std::string(orders::kLimitsFileName) + " не исправлен.");
        if (FParts.Journal) {
            FParts.Journal("Ошибка: лимиты заявок не прочитаны (" + error +
                           "): заявки не принимаются, пока файл не исправлен.");
        }
    }
    // Only another terminal's lock stops orders: a folder where the lock file cannot be made is
    // one where the order log cannot be written either, and that is said when it happens.
    if (FFolderLock.Busy()) {
        FDesk->Block("Папка данных занята другим терминалом: заявки этого терминала не "
                     "принимаются.");
        if (FParts.Journal) {
            FParts.Journal("Ошибка: папка данных " + PathToUtf8(FParts.Dir) +
                           " занята другим терминалом: заявки этого терминала не принимаются.");
        }
    }
}

std::optional<std::int64_t> TTerminalDesk::BestOpposite(const std::string& isin,
                                                        orders::TSide side) {
    if (FRef == nullptr) {
        return std::nullopt;
    }
    const auto ins = FRef->Instruments.find(isin);
    if (ins == FRef->Instruments.end()) {
        return std::nullopt;
    }
    return BestOppositeUnits(*FParts.Books, ins->second.IsinId, side);
}

bool TTerminalDesk::Online() const {
    return DeskLinkHealth(FParts.Health, THealthLink::Transactions) ==
               orders::TLinkHealth::Online &&
           DeskLinkHealth(FParts.Health, THealthLink::MarketData) == orders::TLinkHealth::Online;
}

std::filesystem::path TradingDataDir(const std::filesystem::path& fallback) {
    // Read where the program starts, before any thread of its own could write the environment.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* env = std::getenv("VORLEN_DATA_DIR");
    if (env == nullptr || *env == '\0') {
        return fallback;
    }
    // Loading the gateway makes its folder the current one: a relative folder is fixed now.
    std::error_code ec;
    const std::filesystem::path dir = PathFromUtf8(env);
    const std::filesystem::path abs = std::filesystem::absolute(dir, ec);
    return ec ? dir : abs;
}

bool ReadLimitsFile(const std::filesystem::path& file, orders::TLimitsBook& book,
                    std::string& error) {
    // Far more than any set of rules a trader writes by hand.
    constexpr std::uintmax_t kMaxBytes = 1 << 20;
    const std::string name = PathToUtf8(file.filename());
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(file, ec);
    if (std::filesystem::is_directory(st)) {
        error = name + " - это папка, а не файл лимитов";
        return false;
    }
    if (!std::filesystem::is_regular_file(st)) {
        error = "файл " + name + " не найден или не является обычным файлом";
        return false;
    }
    if (std::filesystem::file_size(file, ec) > kMaxBytes || ec) {
        error = "файл " + name + " больше 1 МБ";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (in) {
        text << in.rdbuf();
    }
    if (!in || in.bad()) {
        error = "файл " + name + " не открывается";
        return false;
    }
    return book.Parse(text.str(), error);
}

bool LoadLimitsFile(const std::filesystem::path& dir, orders::TLimitsBook& book,
                    std::string& error) {
    const std::filesystem::path file = dir / orders::kLimitsFileName;
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
        return true;
    }
    return ReadLimitsFile(file, book, error);
}

std::string StoppingLimitsQuestion(const std::vector<std::string>& stopping) {
    if (stopping.empty())
        return {};
    std::string text = "Лимит 0 запрещает все заявки, к которым относится (max_pos=0 — все, кроме "
                       "закрывающих позицию):\n";
    for (const std::string& rule : stopping)
        text += "  " + rule + "\n";
    return text + "Сохранить такие лимиты?";
}

std::string LimitsFileText(const std::filesystem::path& dir) {
    std::ifstream in(dir / orders::kLimitsFileName, std::ios::binary);
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    const orders::TRiskLimits d;
    orders::TLimitsBook book;
    book.SetAll(
        {d.MaxOrderQty, d.MaxPosition, d.MaxActive, d.MaxPerMinute, d.MaxPerDay, d.MaxDistanceBp});
    return book.Format();
}

bool SaveLimitsFile(const std::filesystem::path& dir, const std::string& text,
                    orders::TLimitsBook& parsed, std::string& error) {
    orders::TLimitsBook book;
    if (!book.Parse(text, error)) {
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!platform::WriteOwnerOnlyFile(dir / orders::kLimitsFileName, text)) {
        error = "файл " + std::string(orders::kLimitsFileName) + " не записан";
        return false;
    }
    parsed = std::move(book);
    return true;
}

} // namespace vorlen
