#pragma once

// Turns the ticked streams of the settings dialog's tree into the market-data connection's
// listener table and the store's stream list. Both are built aside and replace the old ones
// together, and only when the whole subscription is valid, so they always match entry for entry.

#include "connections/GatewayRecords.h"
#include "settings/StreamTree.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

class TCGStorage;

inline constexpr int kMaxListeners = 20;
inline constexpr std::string_view kNoStreamTreeText = "Не получены данные из дерева потоков!";
inline constexpr std::string_view kTooManyStreamsText =
    "Превышен лимит потоков в одном соединении!";

// The scheme parameter of a stream, or an empty view for a stream without one.
std::string_view SchemeParameter(std::string_view stream);

// A listener table and its stream names, built together.
struct TSubscription {
    TListeners Listeners;
    std::vector<std::string> StreamNames;
};

// Appends at most one listener for stream node `node`: none when the stream is unticked, when in
// scheme mode it has no scheme parameter, or when in table form it has no tables. `n` counts the
// entries that received a settings string.
void AddStreamListener(const TStreamTree& tree, int node, bool useScheme, TSubscription& out,
                       int& n);

enum class TSubscriptionOutcome {
    Built,          // replace the listener table and the stream list
    NoStreamTree,   // show Error; keep the old ones; the settings still apply
    TooManyStreams, // show Error; keep the old ones; the settings do not apply
};

struct TSubscriptionBuild {
    TSubscriptionOutcome Outcome = TSubscriptionOutcome::Built;
    TSubscription Subscription; // filled when Outcome is Built
    int Count = 0;              // subscribed streams found, also when there are too many
    std::string Error;          // the text to show, empty when Built
};

// The walk over the tree's groups "Маркет-дата" and "Личные данные", in tree order.
TSubscriptionBuild BuildSubscription(const TStreamTree& tree, bool useScheme);

// Puts a build in place: when it is Built, `listeners` becomes its listener table and
// `setStreams` receives its stream names; otherwise neither is touched. The result is whether
// applying the settings may go on (false only for too many streams).
bool CommitSubscription(TSubscriptionBuild build, TListeners& listeners,
                        const std::function<void(const std::vector<std::string>&)>& setStreams);
// The same, naming the store's streams through TCGStorage::SetStreams.
bool CommitSubscription(TSubscriptionBuild build, TListeners& listeners, TCGStorage& storage);

} // namespace vorlen
