#include "ReplayTable.h"

namespace vsim {

namespace {

std::int64_t KeyOf(std::int64_t id) {
    return id >> ReplayTable::kBucketBits;
}

} // namespace

ReplayTable::Bucket& ReplayTable::Own(std::shared_ptr<Bucket>& b) {
    // Shared with a keyframe or another copy: this table writes to a copy of its own.
    if (b.use_count() > 1) {
        b = std::make_shared<Bucket>(*b);
    }
    return *b;
}

std::size_t ReplayTable::OwnBuckets() const {
    std::size_t n = 0;
    for (const auto& [key, bucket] : buckets_) {
        n += bucket.use_count() == 1 ? 1 : 0;
    }
    return n;
}

const ReplayRow* ReplayTable::Find(std::int64_t id) const {
    const auto b = buckets_.find(KeyOf(id));
    if (b == buckets_.end()) {
        return nullptr;
    }
    const auto it = b->second->find(id);
    return it == b->second->end() ? nullptr : &it->second;
}

ReplayRow& ReplayTable::Put(std::int64_t id, bool& inserted) {
    std::shared_ptr<Bucket>& b = buckets_[KeyOf(id)];
    if (!b) {
        b = std::make_shared<Bucket>();
    }
    auto [it, added] = Own(b).try_emplace(id);
    inserted = added;
    size_ += added ? 1 : 0;
    return it->second;
}

bool ReplayTable::Erase(std::int64_t id) {
    const auto b = buckets_.find(KeyOf(id));
    if (b == buckets_.end() || b->second->find(id) == b->second->end()) {
        return false;
    }
    Bucket& own = Own(b->second);
    own.erase(id);
    --size_;
    if (own.empty()) {
        buckets_.erase(b);
    }
    return true;
}

void ReplayTable::Clear() {
    buckets_.clear();
    size_ = 0;
}

} // namespace vsim
