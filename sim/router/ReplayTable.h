#pragma once

// One table of the replayed replica, its rows kept in buckets of neighbouring replication ids
// that copies share until one of them changes a bucket. A keyframe of a whole day then costs the
// buckets that changed since the last one, not the replica's rows, and restoring one for a seek
// costs the number of buckets: the orders log of a busy day grows by appending ids, so all its
// older buckets stay shared between every keyframe and the replica that plays on.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

namespace vsim {

struct ReplayRow {
    std::int64_t rev = 0;
    std::uint64_t seq = 0; // arrival order, which the terminal's tables keep
    std::string data;      // the catalogue's layout
};

class ReplayTable {
public:
    // Ids a bucket spans: small enough that copying a changed one is cheap, large enough that a
    // day's orders log makes few of them.
    static constexpr int kBucketBits = 10;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Buckets held, and of those how many no other copy shares.
    std::size_t Buckets() const { return buckets_.size(); }
    std::size_t OwnBuckets() const;

    const ReplayRow* Find(std::int64_t id) const;
    // The row under `id` for writing (a new one when `inserted`); its bucket becomes this
    // table's own first.
    ReplayRow& Put(std::int64_t id, bool& inserted);
    bool Erase(std::int64_t id);
    void Clear();

    template <class TFn>
    void ForEach(TFn fn) const {
        for (const auto& [key, bucket] : buckets_) {
            for (const auto& [id, row] : *bucket) {
                fn(id, row);
            }
        }
    }
    // Every row for writing: every bucket becomes this table's own.
    template <class TFn>
    void ForEachMutable(TFn fn) {
        for (auto& [key, bucket] : buckets_) {
            for (auto& [id, row] : Own(bucket)) {
                fn(id, row);
            }
        }
    }
    // Erases the rows `pred` holds true of, copying only the buckets it erases from.
    template <class TPred>
    void EraseIf(TPred pred) {
        for (auto b = buckets_.begin(); b != buckets_.end();) {
            bool any = false;
            for (const auto& [id, row] : *b->second) {
                any = any || pred(row);
            }
            if (any) {
                Bucket& own = Own(b->second);
                for (auto it = own.begin(); it != own.end();) {
                    it = pred(it->second) ? (--size_, own.erase(it)) : std::next(it);
                }
            }
            b = b->second->empty() ? buckets_.erase(b) : std::next(b);
        }
    }

private:
    using Bucket = std::unordered_map<std::int64_t, ReplayRow>;
    static Bucket& Own(std::shared_ptr<Bucket>& b);

    std::map<std::int64_t, std::shared_ptr<Bucket>> buckets_;
    std::size_t size_ = 0;
};

} // namespace vsim
