#include "book/BookKeeper.h"

#include "gateway/Cgate.h"
#include "settings/Catalogue.h"
#include "store/FieldConversion.h"

#if defined(VORLEN_HAVE_ABSL)
#include <absl/container/flat_hash_map.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <string_view>
#include <unordered_map>
#include <variant>

namespace vorlen {

namespace {

enum class TKind { Aggr, OrdersLog, Position, Vm, Reference, Common };

// The fields a kind of table is read by; positions resolved once per description.
enum TRole : std::size_t {
    kRev,
    kIsin,
    kPrice,
    kVolume,
    kDir,
    kClient,
    kOrderId,
    kStepPrice,
    kRoleCount
};

#if defined(VORLEN_HAVE_ABSL)
template <class K, class V>
using THashMap = absl::flat_hash_map<K, V>;
#else
template <class K, class V>
using THashMap = std::unordered_map<K, V>;
#endif

// How a field is read on the hot path: integers straight from their bytes, decimals through
// the gateway's cg_bcd_get and the store's own scaling, anything else through FieldToVariant.
enum class TRead : std::uint8_t { None, Signed, Unsigned, Decimal, Other };

struct TFieldRef {
    cg_field_desc_t Desc{};
    std::string Type; // the description's type string outlives the call that gave it only here
    TRead How = TRead::None;

    void Resolve(const cg_field_desc_t& f) {
        Desc = f;
        Type = f.fild_type != nullptr ? f.fild_type : "";
        const char t = Type.empty() ? '\0' : Type[0];
        const bool width = f.size == 1 || f.size == 2 || f.size == 4 || f.size == 8;
        How = Type.empty()           ? TRead::None
              : t == 'i' && width    ? TRead::Signed
              : t == 'u' && width    ? TRead::Unsigned
              : t == 'd' || t == 's' ? TRead::Decimal
                                     : TRead::Other;
    }
    bool Found() const { return How != TRead::None; }

    TValue Read(const void* data, std::size_t size) const {
        if (!Found())
            return {};
        cg_field_desc_t d = Desc;
        d.fild_type = Type.c_str();
        return FieldToVariant(d, data, size);
    }

    // The field as an integer; 0 when it is missing or not one.
    std::int64_t Int(const void* data, std::size_t size) const {
        if (How != TRead::Signed && How != TRead::Unsigned)
            return How == TRead::None ? 0 : AsIntValue(Read(data, size));
        if (Desc.offset > size || Desc.size > size - Desc.offset)
            return 0;
        const auto* p = static_cast<const std::uint8_t*>(data) + Desc.offset;
        // One read of the field's own width: a copy of a width known only at run time goes byte
        // by byte, and reading the result back waits for every one of those stores.
        const bool sign = How == TRead::Signed;
        switch (Desc.size) {
        case 1:
            return sign ? Load<std::int8_t>(p) : Load<std::uint8_t>(p);
        case 2:
            return sign ? Load<std::int16_t>(p) : Load<std::uint16_t>(p);
        case 4:
            return sign ? Load<std::int32_t>(p) : Load<std::uint32_t>(p);
        default:
            return Load<std::int64_t>(p);
        }
    }

    template <class T>
    static std::int64_t Load(const std::uint8_t* p) {
        T v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<std::int64_t>(v);
    }

    // The field as a number; 0 when it is missing or not one.
    double Number(const void* data, std::size_t size) const {
        if (How == TRead::Decimal) {
            const auto bcdGet = CG().cg_bcd_get;
            if (bcdGet == nullptr || Desc.offset > size || Desc.size > size - Desc.offset)
                return 0;
            std::int64_t mantissa = 0;
            std::int8_t scale = 0;
            if (bcdGet(static_cast<const std::uint8_t*>(data) + Desc.offset, &mantissa, &scale) !=
                0)
                return 0;
            return ScaledDecimal(mantissa, scale);
        }
        if (How == TRead::Signed || How == TRead::Unsigned)
            return static_cast<double>(Int(data, size));
        return How == TRead::None ? 0 : AsDoubleValue(Read(data, size));
    }

    static std::int64_t AsIntValue(const TValue& v);
    static double AsDoubleValue(const TValue& v);
};

double TFieldRef::AsDoubleValue(const TValue& v) {
    return std::visit(
        [](const auto& x) -> double {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_arithmetic_v<X> && !std::is_same_v<X, bool>)
                return static_cast<double>(x);
            else
                return 0;
        },
        v);
}

std::int64_t TFieldRef::AsIntValue(const TValue& v) {
    return std::visit(
        [](const auto& x) -> std::int64_t {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_integral_v<X> && !std::is_same_v<X, bool>)
                return static_cast<std::int64_t>(x);
            else
                return 0;
        },
        v);
}

// One aggregated row as the book keeps it.
struct TLevelRow {
    double Price = 0;
    std::int64_t Volume = 0;
    std::int64_t Rev = 0;
    int Side = -1; // 0 bid, 1 ask, -1 not a level (no volume, or no known direction)
};

// An instrument's rows, in no order. A change of volume or price, which is most of what the
// exchange sends, only rewrites its row; the rows are sorted into levels when a reader copies
// the book, at most a few hundred rows twenty times a second. The ids sit apart from the rows,
// so finding a row reads a few cache lines of ids and no map.
struct TLadder {
    std::int32_t Isin = 0;
    std::vector<std::int64_t> Ids; // Ids[i] is the replication id of Rows[i]
    std::vector<TLevelRow> Rows;
    std::uint64_t Stamp = 0;
    std::chrono::system_clock::time_point Updated;
    bool Touched = false;

    // Position of the row with this id; Rows.size() when there is none.
    std::size_t Find(std::int64_t replId) const {
        return static_cast<std::size_t>(std::find(Ids.begin(), Ids.end(), replId) - Ids.begin());
    }
    void Add(std::int64_t replId, const TLevelRow& row) {
        Ids.push_back(replId);
        Rows.push_back(row);
    }
    // Takes row `at` out; the last row moves into its place.
    void Remove(std::size_t at) {
        Ids[at] = Ids.back();
        Rows[at] = Rows.back();
        Ids.pop_back();
        Rows.pop_back();
    }
};

// A row of the header tables, reduced to what the header needs.
struct TRec {
    std::int32_t Isin = 0;
    std::int64_t Rev = 0;
    std::string Client;
    double A = 0;       // price, average price, margin or minimum step
    double B = 0;       // step price
    std::int64_t N = 0; // position or resting volume
    int Dir = 0;
};

struct THook {
    TKind Kind;
    int Depth = 0;
    std::array<TFieldRef, kRoleCount> F;
    THashMap<std::int32_t, std::unique_ptr<TLadder>> Ladders;
    TLadder& LadderOf(std::int32_t isin) {
        auto& l = Ladders[isin];
        if (!l) {
            l = std::make_unique<TLadder>();
            l->Isin = isin;
        }
        return *l;
    }
    TLadder* FindLadder(std::int32_t isin) const {
        const auto it = Ladders.find(isin);
        return it == Ladders.end() ? nullptr : it->second.get();
    }
    // Keyed by replication id, except the orders log: by order id, the latest action only.
    std::unordered_map<std::int64_t, TRec> Recs;
    // Reference rows and last prices, one per instrument: isin_id -> key in Recs, so a
    // snapshot does not walk tens of thousands of option series under the store's lock.
    std::unordered_map<std::int32_t, std::int64_t> ByIsin;
    bool Indexed() const { return Kind == TKind::Reference || Kind == TKind::Common; }
    const TRec* ForIsin(std::int32_t isin) const {
        const auto it = ByIsin.find(isin);
        if (it == ByIsin.end())
            return nullptr;
        const auto rec = Recs.find(it->second);
        return rec == Recs.end() ? nullptr : &rec->second;
    }
};

// Which tables the books follow, by stream and table name.
bool Classify(std::string_view stream, std::string_view table, TKind& kind, int& depth) {
    for (std::size_t d = 0; d < kDepthStreams.size(); ++d) {
        if (stream == kDepthStreams[d]) {
            kind = TKind::Aggr;
            depth = kDepthValues[d];
            return table == "orders_aggr";
        }
    }
    if (stream == "FORTS_TRADE_REPL" && table == "orders_log")
        kind = TKind::OrdersLog;
    else if (stream == "FORTS_POS_REPL" && table == "position")
        kind = TKind::Position;
    else if (stream == "FORTS_VM_REPL" && (table == "fut_vm" || table == "opt_vm"))
        kind = TKind::Vm;
    else if (table == "fut_sess_contents" || table == "opt_sess_contents")
        kind = TKind::Reference;
    else if (stream == "FORTS_COMMON_REPL" && table == "common")
        kind = TKind::Common;
    else
        return false;
    return true;
}

// Field names per kind and role; empty where the kind does not read the role.
std::array<std::string_view, kRoleCount> RoleNames(TKind kind) {
    switch (kind) {
    case TKind::Aggr:
        return {"replRev", "isin_id", "price", "volume", "dir", "", "", ""};
    case TKind::OrdersLog:
        return {"replRev", "isin_id", "price",           "public_amount_rest",
                "dir",     "",        "public_order_id", ""};
    case TKind::Position:
        return {"replRev", "isin_id", "waprice", "xpos", "", "client_code", "", ""};
    case TKind::Vm:
        return {"replRev", "isin_id", "vm", "", "", "client_code", "", ""};
    case TKind::Reference:
        return {"replRev", "isin_id", "min_step", "", "", "", "", "step_price"};
    case TKind::Common:
        return {"replRev", "isin_id", "price", "", "", "", "", ""};
    }
    return {};
}

} // namespace

struct TBookKeeper::Impl {
    static constexpr std::uint32_t kClockEvery = 63; // read the clock every 64 rows
    std::vector<std::string> Streams;
    std::uint32_t ClockTick = 0;
    std::chrono::system_clock::time_point Now = std::chrono::system_clock::now();
    std::vector<std::vector<std::unique_ptr<THook>>> Hooks; // [stream][table]
    bool AggrChosen = false;
    std::uint64_t Counter = 0;     // the source of every stamp
    std::uint64_t GlobalStamp = 0; // a change that concerns every instrument
    std::unordered_map<std::int32_t, std::uint64_t> IsinStamps; // header changes per instrument

    THook* HookAt(std::int32_t s, std::int32_t t) const {
        if (s < 0 || static_cast<std::size_t>(s) >= Hooks.size())
            return nullptr;
        const auto& tables = Hooks[static_cast<std::size_t>(s)];
        if (t < 0 || static_cast<std::size_t>(t) >= tables.size())
            return nullptr;
        return tables[static_cast<std::size_t>(t)].get();
    }

    void TouchAll() { GlobalStamp = ++Counter; }
    void TouchIsin(std::int32_t isin) { IsinStamps[isin] = ++Counter; }

    // The book the snapshots read: the deepest chosen stream that has been described.
    const THook* BookHook() const {
        const THook* best = nullptr;
        for (const auto& tables : Hooks)
            for (const auto& h : tables)
                if (h && h->Kind == TKind::Aggr && (best == nullptr || h->Depth > best->Depth))
                    best = h.get();
        return best;
    }

    void ApplyAggr(THook& h, const TStoreObserver::TRowChange& c);
    void ApplyRec(THook& h, std::int64_t replId, const void* data, std::size_t size, bool deleted);
    void DropRows(THook& h, std::int64_t belowRev, bool all);
    void Fill(std::int32_t isin, TBookSnapshot& out) const;
};

void TBookKeeper::Impl::ApplyAggr(THook& h, const TStoreObserver::TRowChange& c) {
    // Reading the clock for every row would cost as much as the rest of this; the time is taken
    // every so many rows here and at every snapshot, which is as fresh as anyone can see it.
    if ((++ClockTick & kClockEvery) == 0)
        Now = std::chrono::system_clock::now();
    const auto touch = [&](TLadder& l) {
        l.Stamp = ++Counter;
        l.Updated = Now;
        l.Touched = true;
    };
    // The row as the book has it: mostly under the instrument the message names, which it
    // rarely leaves; otherwise under the one the row's previous bytes name.
    const auto isin = static_cast<std::int32_t>(h.F[kIsin].Int(c.Data, c.Size));
    const auto find = [&](std::int32_t in, std::size_t& at) -> TLadder* {
        TLadder* l = h.FindLadder(in);
        if (l == nullptr)
            return nullptr;
        at = l->Find(c.ReplId);
        return at < l->Rows.size() ? l : nullptr;
    };
    std::size_t at = 0;
    TLadder* from = find(isin, at);
    if (from == nullptr && c.Previous) {
        const TRowView& before = c.Previous;
        from = find(static_cast<std::int32_t>(h.F[kIsin].Int(before.Data(), before.Size())), at);
    }
    if (c.Deleted) {
        if (from != nullptr) {
            touch(*from);
            from->Remove(at);
        }
        return;
    }
    TLevelRow row;
    row.Rev = h.F[kRev].Int(c.Data, c.Size);
    row.Price = h.F[kPrice].Number(c.Data, c.Size);
    row.Volume = h.F[kVolume].Int(c.Data, c.Size);
    const std::int64_t dir = h.F[kDir].Int(c.Data, c.Size);
    row.Side = row.Volume <= 0 ? -1 : dir == 1 ? 0 : dir == 2 ? 1 : -1;
    if (from != nullptr && from->Isin == isin) {
        from->Rows[at] = row;
        touch(*from);
        return;
    }
    if (from != nullptr) {
        // The row moved to another instrument.
        touch(*from);
        from->Remove(at);
    }
    TLadder& l = h.LadderOf(isin);
    l.Add(c.ReplId, row);
    touch(l);
}

void TBookKeeper::Impl::ApplyRec(THook& h, std::int64_t replId, const void* data, std::size_t size,
                                 bool deleted) {
    if (h.Kind == TKind::OrdersLog) {
        // The log only grows; each row is one action on an order, and the latest says what rests.
        if (deleted)
            return;
        TRec r;
        r.Rev = h.F[kRev].Int(data, size);
        r.Isin = static_cast<std::int32_t>(h.F[kIsin].Int(data, size));
        r.A = h.F[kPrice].Number(data, size);
        r.N = h.F[kVolume].Int(data, size);
        r.Dir = static_cast<int>(h.F[kDir].Int(data, size));
        r.B = static_cast<double>(replId);
        const std::int64_t order = h.F[kOrderId].Int(data, size);
        const auto it = h.Recs.find(order);
        if (it != h.Recs.end() && it->second.B > r.B)
            return; // an older action arriving late changes nothing
        if (r.N > 0)
            h.Recs[order] = r;
        else if (it != h.Recs.end())
            h.Recs.erase(it);
        TouchIsin(r.Isin);
        return;
    }
    const auto it = h.Recs.find(replId);
    if (deleted) {
        if (it != h.Recs.end()) {
            TouchIsin(it->second.Isin);
            if (const auto at = h.ByIsin.find(it->second.Isin);
                at != h.ByIsin.end() && at->second == replId)
                h.ByIsin.erase(at);
            h.Recs.erase(it);
        }
        return;
    }
    TRec r;
    r.Rev = h.F[kRev].Int(data, size);
    r.Isin = static_cast<std::int32_t>(h.F[kIsin].Int(data, size));
    r.A = h.F[kPrice].Number(data, size);
    r.B = h.F[kStepPrice].Number(data, size);
    r.N = h.F[kVolume].Int(data, size);
    if (const TValue c = h.F[kClient].Read(data, size); std::holds_alternative<std::string>(c))
        r.Client = std::get<std::string>(c);
    if (it != h.Recs.end() && it->second.Isin != r.Isin)
        TouchIsin(it->second.Isin);
    const std::int32_t isin = r.Isin;
    h.Recs[replId] = std::move(r);
    if (h.Indexed())
        h.ByIsin[isin] = replId;
    TouchIsin(isin);
}

void TBookKeeper::Impl::DropRows(THook& h, std::int64_t belowRev, bool all) {
    // The store keeps rows that have no revision field; so does the book.
    if (!all && !h.F[kRev].Found())
        return;
    if (h.Kind == TKind::Aggr) {
        if (all) {
            h.Ladders.clear();
        } else {
            for (auto& [isin, ladder] : h.Ladders)
                for (std::size_t i = ladder->Rows.size(); i-- > 0;)
                    if (ladder->Rows[i].Rev < belowRev)
                        ladder->Remove(i);
        }
    } else {
        std::erase_if(h.Recs, [&](const auto& kv) { return all || kv.second.Rev < belowRev; });
        std::erase_if(h.ByIsin, [&](const auto& kv) { return !h.Recs.contains(kv.second); });
    }
    TouchAll();
}

void TBookKeeper::Impl::Fill(std::int32_t isin, TBookSnapshot& out) const {
    out.IsinId = isin;
    out.Bids.clear();
    out.Asks.clear();
    out.Positions.clear();
    out.LastUpdate.reset();
    out.LastDeal.reset();
    out.MinStep.reset();
    out.StepPrice.reset();
    out.Depth = 0;
    out.VmSubscribed = false;

    const THook* book = BookHook();
    out.Status = !AggrChosen       ? TBookStatus::NotSubscribed
                 : book == nullptr ? TBookStatus::Waiting
                                   : TBookStatus::Live;
    const THook* orders = nullptr;
    for (const auto& tables : Hooks) {
        for (const auto& h : tables) {
            if (!h)
                continue;
            switch (h->Kind) {
            case TKind::OrdersLog:
                orders = h.get();
                break;
            case TKind::Position:
                for (const auto& [id, r] : h->Recs)
                    if (r.Isin == isin)
                        out.Positions.push_back({r.Client, r.N, r.A, std::nullopt});
                break;
            case TKind::Reference:
                if (const TRec* r = h->ForIsin(isin)) {
                    out.MinStep = r->A;
                    out.StepPrice = r->B;
                }
                break;
            case TKind::Common:
                if (const TRec* r = h->ForIsin(isin); r != nullptr && r->A != 0)
                    out.LastDeal = r->A;
                break;
            default:
                break;
            }
        }
    }
    std::sort(out.Positions.begin(), out.Positions.end(),
              [](const TBookPosition& a, const TBookPosition& b) { return a.Client < b.Client; });
    for (const auto& tables : Hooks) {
        for (const auto& h : tables) {
            if (!h || h->Kind != TKind::Vm)
                continue;
            out.VmSubscribed = true;
            for (const auto& [id, r] : h->Recs)
                for (TBookPosition& p : out.Positions)
                    if (r.Isin == isin && r.Client == p.Client)
                        p.VarMargin = p.VarMargin.value_or(0) + r.A;
        }
    }

    if (book == nullptr)
        return;
    out.Depth = book->Depth;
    const auto found = book->Ladders.find(isin);
    if (found == book->Ladders.end())
        return;
    const TLadder& l = *found->second;
    if (l.Touched)
        out.LastUpdate = l.Updated;
    const auto depth = static_cast<std::size_t>(book->Depth);
    // Own resting volume at a price; the orders log marks what the aggregate already counts.
    const auto own = [&](int dir, double price) {
        std::int64_t sum = 0;
        if (orders != nullptr)
            for (const auto& [id, r] : orders->Recs)
                if (r.Isin == isin && r.Dir == dir && r.A == price)
                    sum += r.N;
        return sum;
    };
    // Rows sorted best first per side; rows at one price make one level of their sum.
    std::vector<const TLevelRow*> rows;
    rows.reserve(l.Rows.size());
    for (const TLevelRow& r : l.Rows)
        if (r.Side >= 0)
            rows.push_back(&r);
    std::sort(rows.begin(), rows.end(), [](const TLevelRow* a, const TLevelRow* b) {
        if (a->Side != b->Side)
            return a->Side < b->Side;
        return a->Side == 0 ? a->Price > b->Price : a->Price < b->Price;
    });
    for (const TLevelRow* r : rows) {
        auto& side = r->Side == 0 ? out.Bids : out.Asks;
        if (!side.empty() && side.back().Price == r->Price) {
            side.back().Volume += r->Volume;
            continue;
        }
        if (side.size() >= depth)
            continue;
        side.push_back({r->Price, r->Volume, own(r->Side + 1, r->Price)});
    }
}

TBookKeeper::TBookKeeper(TMutex& storeLock) : FLock(storeLock), FImpl(std::make_unique<Impl>()) {}

TBookKeeper::~TBookKeeper() = default;

bool TBookKeeper::Snapshot(std::int32_t isin_id, TBookSnapshot& out) const {
    TMutexGuard lock(FLock);
    FImpl->Now = std::chrono::system_clock::now();
    const Impl& d = *FImpl;
    std::uint64_t version = d.GlobalStamp;
    if (const auto it = d.IsinStamps.find(isin_id); it != d.IsinStamps.end())
        version = std::max(version, it->second);
    if (const THook* book = d.BookHook()) {
        if (const auto it = book->Ladders.find(isin_id); it != book->Ladders.end())
            version = std::max(version, it->second->Stamp);
    }
    // Version 0 is "never filled", so the first snapshot always copies.
    ++version;
    if (out.IsinId == isin_id && out.Version == version)
        return false;
    d.Fill(isin_id, out);
    out.Version = version;
    return true;
}

void TBookKeeper::OnStreams(const std::vector<std::string>& names) {
    Impl& d = *FImpl;
    d.Streams = names;
    d.Hooks.clear();
    d.Hooks.resize(names.size());
    d.AggrChosen = std::any_of(names.begin(), names.end(), [](const std::string& n) {
        return std::find(kDepthStreams.begin(), kDepthStreams.end(), n) != kDepthStreams.end();
    });
    d.TouchAll();
}

void TBookKeeper::OnTableDescribed(std::int32_t stream, std::int32_t table,
                                   const cg_message_desc_t& desc) {
    Impl& d = *FImpl;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.Hooks.size() || table < 0)
        return;
    auto& tables = d.Hooks[static_cast<std::size_t>(stream)];
    if (tables.size() <= static_cast<std::size_t>(table))
        tables.resize(static_cast<std::size_t>(table) + 1);
    auto& slot = tables[static_cast<std::size_t>(table)];
    slot.reset();
    d.TouchAll();
    TKind kind{};
    int depth = 0;
    if (!Classify(d.Streams[static_cast<std::size_t>(stream)], desc.name ? desc.name : "", kind,
                  depth))
        return;
    auto hook = std::make_unique<THook>();
    hook->Kind = kind;
    hook->Depth = depth;
    const auto names = RoleNames(kind);
    std::size_t n = 0;
    for (const cg_field_desc_t* f = desc.fields; f != nullptr && n < desc.num_fields;
         f = f->next, ++n) {
        if (f->name == nullptr)
            continue;
        for (std::size_t r = 0; r < kRoleCount; ++r) {
            if (!names[r].empty() && names[r] == f->name) {
                hook->F[r].Resolve(*f);
            }
        }
    }
    slot = std::move(hook);
}

void TBookKeeper::OnRow(std::int32_t stream, std::int32_t table, const TRowChange& change) {
    THook* h = FImpl->HookAt(stream, table);
    if (h == nullptr)
        return;
    if (h->Kind == TKind::Aggr)
        FImpl->ApplyAggr(*h, change);
    else
        FImpl->ApplyRec(*h, change.ReplId, change.Data, change.Size, change.Deleted);
}

void TBookKeeper::OnStreamCleared(std::int32_t stream) {
    Impl& d = *FImpl;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.Hooks.size())
        return;
    for (auto& h : d.Hooks[static_cast<std::size_t>(stream)])
        if (h)
            d.DropRows(*h, 0, true);
}

void TBookKeeper::OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) {
    if (THook* h = FImpl->HookAt(stream, table))
        FImpl->DropRows(*h, rev, false);
}

} // namespace vorlen
