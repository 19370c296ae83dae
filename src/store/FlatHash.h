#pragma once

// Open-addressing hash containers where the build has them (Abseil), the standard node-based ones
// where it does not (the Windows cross build): no allocation per element, and a look-up touches
// one or two cache lines instead of a bucket and a node.

#if defined(VORLEN_HAVE_ABSL)
#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>
#else
#include <functional>
#include <unordered_map>
#include <unordered_set>
#endif

namespace vorlen {

#if defined(VORLEN_HAVE_ABSL)
template <class K, class V, class H = absl::Hash<K>>
using TFlatMap = absl::flat_hash_map<K, V, H>;
template <class K>
using TFlatSet = absl::flat_hash_set<K>;
#else
template <class K, class V, class H = std::hash<K>>
using TFlatMap = std::unordered_map<K, V, H>;
template <class K>
using TFlatSet = std::unordered_set<K>;
#endif

} // namespace vorlen
