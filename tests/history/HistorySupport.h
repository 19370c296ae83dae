#pragma once

// A scratch folder, a clock the test sets, and a reader that gathers a whole recording.

#include "history/Reader.h"
#include "history/Recorder.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorlen::test {

namespace fs = std::filesystem;

class TScratch {
public:
    TScratch() {
        std::string pattern = (fs::temp_directory_path() / "vorlen-hist-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp");
        Dir = pattern;
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;
    fs::path Dir;
};

// Journal lines collected from the recorder's thread.
struct TLines {
    std::vector<std::string> Take() {
        std::lock_guard g(Lock);
        return Lines;
    }
    history::TRecorder::TJournal Sink() {
        return [this](const std::string& line) {
            std::lock_guard g(Lock);
            Lines.push_back(line);
        };
    }
    std::mutex Lock;
    std::vector<std::string> Lines;
};

struct TReadRecord {
    history::TRecordKind Kind{};
    std::uint16_t Stream = 0;
    std::uint32_t Table = 0;
    std::int64_t TimeNs = 0;
    std::string Payload;
};

inline std::vector<TReadRecord> ReadAll(history::TRecordingReader& reader) {
    std::vector<TReadRecord> all;
    history::TRecordView v;
    while (reader.Next(v))
        all.push_back({v.Kind, v.Stream, v.Table, v.TimeNs, std::string(v.Payload)});
    return all;
}

// Options for a test: frames cut every second of the given times, the test's clock.
inline history::TRecorderOptions TestOptions(const fs::path& folder,
                                             std::atomic<std::int64_t>& clock) {
    history::TRecorderOptions o;
    o.Folder = folder;
    o.BufferBytes = 1u << 20;
    o.SyncEvery = std::chrono::milliseconds(50);
    o.Clock = [&clock] { return clock.load(); };
    return o;
}

} // namespace vorlen::test
