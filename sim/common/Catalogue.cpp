#include "Catalogue.h"

#include "Text.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vsim {

namespace text {
extern const char* const kTables;
extern const char* const kStreams;
extern const char* const kSchemeFiles;
extern const char* const kMessages;
} // namespace text

int StreamDef::Find(std::string_view table) const {
    for (std::size_t i = 0; i < tables.size(); ++i) {
        if (tables[i]->name == table) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::vector<const TableDef*> SchemeFileDef::Tables() const {
    std::vector<const TableDef*> out;
    for (const StreamDef* s : streams) {
        for (const TableDef* t : s->tables) {
            bool seen = false;
            for (const TableDef* o : out) {
                seen = seen || o == t;
            }
            if (!seen) {
                out.push_back(t);
            }
        }
    }
    return out;
}

std::vector<TableDef> ParseTableText(std::string_view text, bool withService) {
    std::vector<TableDef> out;
    bool failed = false;
    for (std::string_view line : SplitLines(text)) {
        line = Trim(line);
        if (line.empty()) {
            continue;
        }
        if (line[0] == '@') {
            if (!out.empty()) {
                FinishLayout(out.back());
            }
            const auto words = SplitWords(line.substr(1));
            TableDef t;
            t.name = std::string(words.at(0));
            if (words.size() > 1) {
                t.id = static_cast<std::uint32_t>(
                    std::strtoul(std::string(words[1]).c_str(), nullptr, 10));
            }
            if (withService) {
                AddField(t, "replID", "i8");
                AddField(t, "replRev", "i8");
                AddField(t, "replAct", "i8");
            }
            out.push_back(std::move(t));
            continue;
        }
        if (out.empty()) {
            failed = true;
            break;
        }
        for (std::string_view item : Split(line, ',')) {
            item = Trim(item);
            if (item.empty()) {
                continue;
            }
            const auto words = SplitWords(item);
            if (words.size() != 2 || !AddField(out.back(), words[0], words[1])) {
                std::fprintf(stderr, "bad field '%.*s' in %s\n", static_cast<int>(item.size()),
                             item.data(), out.back().name.c_str());
                failed = true;
            }
        }
    }
    if (!out.empty()) {
        FinishLayout(out.back());
    }
    if (failed) {
        out.clear();
    }
    return out;
}

namespace {

// "#NAME item item" lines, where a line starting with a blank continues the previous one.
std::vector<std::vector<std::string_view>> ParseHashLists(std::string_view text) {
    std::vector<std::vector<std::string_view>> out;
    for (std::string_view line : SplitLines(text)) {
        if (line.empty()) {
            continue;
        }
        if (line[0] == '#') {
            out.emplace_back();
            line = line.substr(1);
        }
        if (out.empty()) {
            continue;
        }
        for (std::string_view w : SplitWords(line)) {
            out.back().push_back(w);
        }
    }
    return out;
}

} // namespace

Catalogue::Catalogue()
    : tables_(ParseTableText(text::kTables, true)),
      messages_(ParseTableText(text::kMessages, false)) {
    const auto streams = ParseHashLists(text::kStreams);
    streams_.reserve(streams.size());
    for (const auto& words : streams) {
        StreamDef s;
        s.name = std::string(words.at(0));
        for (std::size_t i = 1; i < words.size(); ++i) {
            const TableDef* t = Table(words[i]);
            if (t == nullptr) {
                std::fprintf(stderr, "stream %s names unknown table\n", s.name.c_str());
                std::abort();
            }
            s.tables.push_back(t);
        }
        streams_.push_back(std::move(s));
    }
    for (const auto& words : ParseHashLists(text::kSchemeFiles)) {
        SchemeFileDef f;
        f.file = std::string(words.at(0));
        for (std::size_t i = 1; i < words.size(); ++i) {
            f.streams.push_back(Stream(words[i]));
        }
        files_.push_back(std::move(f));
    }
}

const Catalogue& Catalogue::Get() {
    static const Catalogue instance;
    return instance;
}

const TableDef* Catalogue::Table(std::string_view name) const {
    for (const TableDef& t : tables_) {
        if (t.name == name) {
            return &t;
        }
    }
    return nullptr;
}

const StreamDef* Catalogue::Stream(std::string_view name) const {
    for (const StreamDef& s : streams_) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

const TableDef* Catalogue::Message(std::string_view name) const {
    for (const TableDef& m : messages_) {
        if (m.name == name) {
            return &m;
        }
    }
    return nullptr;
}

const TableDef* Catalogue::MessageById(std::uint32_t id) const {
    for (const TableDef& m : messages_) {
        if (m.id == id) {
            return &m;
        }
    }
    return nullptr;
}

} // namespace vsim
