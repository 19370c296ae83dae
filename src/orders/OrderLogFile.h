#pragma once

// The order log: every attempt, refusal, post, reply and cancel, one journal-form line each, in
// an owner-only file per day ("orders_YYYY-MM-DD.log") beside the saved settings.

#include "orders/OrderLogDay.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace vorlen::orders {

class TOrderLogFile {
public:
    explicit TOrderLogFile(std::filesystem::path dir) : FDir(std::move(dir)) {}
    // False when the line could not be written (the caller says so in the journal).
    bool Append(const std::string& journalLine,
                std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
    std::filesystem::path FileFor(std::chrono::system_clock::time_point now) const;
    // Adds what the file of the local date `ms` falls on says to `day`; nothing for no file.
    void ReadDay(std::int64_t ms, TLoggedDay& day) const;

private:
    std::filesystem::path FDir;
};

} // namespace vorlen::orders
