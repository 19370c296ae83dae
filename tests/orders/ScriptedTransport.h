#pragma once

// An order transport for tests: it records every post and what each add carried, and answers
// only when the test says so (adds get order 1000 + their transaction id, or at once with
// `AnswerAddsWith`; cancels the code the test chooses). With a `Cap` it refuses, as the
// terminal's limiter does, any post beyond Cap in 1000 ms of `Clock`.

#include "orders/OrderDesk.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>

namespace vorlen::orders {

class TScriptedTransport final : public IOrderTransport {
public:
    struct TPost {
        bool Cancel;
        std::int64_t OrderId;
        std::int64_t ExtId; // an add's
    };
    std::uint32_t NextId() override { return ++FId; }
    bool PostAdd(std::uint32_t trId, std::int32_t, const TAddOrderParams& p) override {
        if (!Admit()) {
            return false;
        }
        Posts[trId] = {false, 0, p.ext_id};
        Adds[trId] = p;
        if (AnswerAddsWith && Accepting && Answered.insert(trId).second) {
            Replies[trId] = {*AnswerAddsWith, *AnswerAddsWith == 0 ? 1000 + trId : 0};
        }
        return Accepting;
    }
    bool PostCancel(std::uint32_t trId, std::int32_t, const TDelOrderParams& p) override {
        if (!Admit()) {
            return false;
        }
        Posts[trId] = {true, p.order_id, 0};
        return Accepting;
    }
    bool Throttled() override { return FThrottled; }
    std::int32_t PostsPerSecond() override { return Cap; }
    std::size_t Room() override {
        if (Cap == 0) {
            return 1'000'000;
        }
        Prune();
        return FAdmitted.size() < static_cast<std::size_t>(Cap) ? Cap - FAdmitted.size() : 0;
    }
    bool TakeReply(std::uint32_t trId, TReply& out) override {
        const auto it = Replies.find(trId);
        if (it == Replies.end()) {
            return false;
        }
        out = it->second;
        Replies.erase(it);
        return true;
    }
    void WaitReply(unsigned) override {}
    TLinkHealth Health() override { return Link; }

    // Answers every post not yet answered: adds get ids 1000 + trId, cancels `cancelCode`.
    void ReplyAll(std::int32_t cancelCode = 0) {
        for (const auto& [trId, p] : Posts) {
            if (Answered.insert(trId).second) {
                Replies[trId] = p.Cancel ? TReply{cancelCode, p.OrderId} : TReply{0, 1000 + trId};
            }
        }
    }
    std::size_t Cancels() const {
        std::size_t n = 0;
        for (const auto& [trId, p] : Posts)
            n += p.Cancel ? 1 : 0;
        return n;
    }

    bool Accepting = true;
    TLinkHealth Link = TLinkHealth::Online;
    std::int32_t Cap = 0;
    std::function<std::int64_t()> Clock;
    std::size_t ThrottledPosts = 0; // refused by the cap
    // Adds answered at once with this code (as the exchange would before the poster looks).
    std::optional<std::int32_t> AnswerAddsWith;
    std::map<std::uint32_t, TPost> Posts;
    std::map<std::uint32_t, TAddOrderParams> Adds; // what each add carried
    std::map<std::uint32_t, TReply> Replies;
    std::set<std::uint32_t> Answered;

private:
    void Prune() {
        while (!FAdmitted.empty() && Clock() - FAdmitted.front() > 1000) {
            FAdmitted.pop_front();
        }
    }
    bool Admit() {
        FThrottled = false;
        if (Cap == 0) {
            return true;
        }
        Prune();
        if (FAdmitted.size() >= static_cast<std::size_t>(Cap)) {
            FThrottled = true;
            ++ThrottledPosts;
            return false;
        }
        FAdmitted.push_back(Clock());
        return true;
    }

    std::uint32_t FId = 0;
    std::deque<std::int64_t> FAdmitted;
    bool FThrottled = false;
};

} // namespace vorlen::orders
