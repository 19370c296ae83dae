#include "orders/OrderLogFile.h"

#include "platform/FormatSettings.h"
#include "platform/OwnerFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace vorlen::orders {

std::filesystem::path TOrderLogFile::FileFor(std::chrono::system_clock::time_point now) const {
    const std::tm t = LocalTm(now);
    char name[64];
    std::snprintf(name, sizeof name, "orders_%04d-%02d-%02d.log", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday);
    return FDir / name;
}

bool TOrderLogFile::Append(const std::string& journalLine,
                           std::chrono::system_clock::time_point now) {
    // One line per entry whatever a text in it holds: a line break in a client code or a
    // reason would forge an entry of its own.
    std::string line;
    line.reserve(journalLine.size() + 1);
    for (const char c : journalLine) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
            line += '?';
        else
            line += c;
    }
    line += '\n';
    return platform::AppendOwnerOnlyFile(FileFor(now), line);
}

void TOrderLogFile::ReadDay(std::int64_t ms, TLoggedDay& day) const {
    const std::int64_t midnight = LocalMidnightMs(ms);
    std::ifstream in(FileFor(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms))),
                     std::ios::binary);
    if (!in) {
        return;
    }
    std::ostringstream text;
    text << in.rdbuf();
    ReadOrderLogText(text.str(), midnight, day);
}

} // namespace vorlen::orders
