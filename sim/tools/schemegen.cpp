#include "Catalogue.h"
#include "Ini.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sim_schemegen <folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const vsim::Catalogue& cat = vsim::Catalogue::Get();
    for (const vsim::SchemeFileDef& f : cat.SchemeFiles()) {
        if (!vsim::WriteTextFile(dir + "/" + f.file,
                                 vsim::WriteScheme(vsim::Catalogue::kReplSection, f.Tables()))) {
            std::fprintf(stderr, "cannot write %s\n", f.file.c_str());
            return 1;
        }
    }
    std::vector<const vsim::TableDef*> messages;
    for (const vsim::TableDef& m : cat.Messages()) {
        messages.push_back(&m);
    }
    return vsim::WriteTextFile(dir + "/" + vsim::Catalogue::kMessageFile,
                               vsim::WriteScheme(vsim::Catalogue::kMessageSection, messages))
               ? 0
               : 1;
}
