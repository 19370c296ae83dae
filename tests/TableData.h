#pragma once

// Tables of the terminal's fixed vocabulary, kept as tab-separated data files under tests/data/
// and compared by data-driven tests with what the code holds. Lines starting with "#" and empty
// lines are comments.

#include <fstream>
#include <string>
#include <vector>

namespace vorlen::test {

using TDataRow = std::vector<std::string>;

// The rows of tests/data/<name>, cells split at tabs; no rows when the file cannot be read (the
// caller's comparison then fails).
inline std::vector<TDataRow> ReadTableData(const std::string& name) {
    std::ifstream in(std::string(VORLEN_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    std::vector<TDataRow> rows;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.front() == '#')
            continue;
        TDataRow& row = rows.emplace_back();
        std::size_t from = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', from);
            row.push_back(line.substr(from, tab == std::string::npos ? tab : tab - from));
            if (tab == std::string::npos)
                break;
            from = tab + 1;
        }
    }
    return rows;
}

} // namespace vorlen::test
