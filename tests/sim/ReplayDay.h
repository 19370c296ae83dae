#pragma once

// What the router's replay tests need to write recordings of their own.

#include "Replay.h"
#include "history/RecordFormat.h"

#include <deque>
#include <string>
#include <vector>

namespace vsim::test {

// The catalogue's layouts of a stream as a recording's stream opening carries them.
inline std::string OpenPayload(const vsim::StreamDef& def) {
    std::deque<std::vector<cg_field_desc_t>> fields;
    std::vector<cg_message_desc_t> messages(def.tables.size());
    for (std::size_t i = 0; i < def.tables.size(); ++i) {
        const vsim::TableDef& t = *def.tables[i];
        auto& list = fields.emplace_back(t.fields.size());
        for (std::size_t j = 0; j < t.fields.size(); ++j) {
            list[j].id = static_cast<std::uint32_t>(j);
            list[j].name = t.fields[j].name.c_str();
            list[j].fild_type = t.fields[j].type.c_str();
            list[j].size = t.fields[j].size;
            list[j].offset = t.fields[j].offset;
            list[j].next = j + 1 < list.size() ? &list[j + 1] : nullptr;
        }
        messages[i] = cg_message_desc_t{};
        messages[i].size = t.size;
        messages[i].num_fields = list.size();
        messages[i].fields = list.empty() ? nullptr : list.data();
        messages[i].name = t.name.c_str();
        messages[i].next = i + 1 < messages.size() ? &messages[i + 1] : nullptr;
    }
    cg_scheme_desc_t scheme{};
    scheme.num_messages = messages.size();
    scheme.messages = messages.data();
    std::string out;
    vorlen::history::EncodeScheme(out, def.name, scheme);
    return out;
}

} // namespace vsim::test
