#pragma once

#include <string>
#include <vector>

namespace vorlen {

// Where journal lines go: the main window's journal pane, an expert's pane, standard output in
// the console, a vector in tests. AppendLine is only ever called on the UI thread (workers reach
// it through TThread::Synchronize), so sinks need no lock of their own.
class TJournalSink {
public:
    virtual ~TJournalSink() = default;
    virtual void AppendLine(const std::string& line) = 0;
};

// Keeps the lines; for tests and for callers that collect lines first.
class TMemoryJournal final : public TJournalSink {
public:
    void AppendLine(const std::string& line) override { Lines.push_back(line); }
    std::vector<std::string> Lines;
};

} // namespace vorlen
