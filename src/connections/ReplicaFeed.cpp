#include "connections/ReplicaFeed.h"

#include "connections/ConnectionUtil.h"

#include <algorithm>
#include <cstring>

namespace vorlen {

void ApplyToReplica(TCGStorage& store, TCGStorage::TBatch& batch, std::int32_t idx,
                    TListenerData& el, const cg_msg_t& msg, const cg_scheme_desc_t* scheme) {
    if (msg.type == CG_MSG_STREAM_CHANGED) {
        // The element's record itself stands for the copy the store is given: only the feeding
        // thread writes it, and not while the store reads it, so no per-row copy is needed.
        batch.UpdStrMsg(reinterpret_cast<const cg_msg_streamdata_t&>(msg), el.StreamData);
        return;
    }
    batch.Release();
    switch (msg.type) {
    case CG_MSG_OPEN:
        if (scheme != nullptr)
            store.SetTblsDesc(idx, el.StreamData, *scheme);
        el.LsnParams.cgMsgOpen = true;
        break;
    case CG_MSG_CLOSE:
        el.LsnParams.cgMsgRplOnline = false;
        el.LsnParams.cgMsgOpen = false;
        break;
    case CG_MSG_P2REPL_LIFENUM:
        if (msg.data != nullptr && msg.data_size >= sizeof(cg_data_lifenum_t)) {
            cg_data_lifenum_t ln;
            std::memcpy(&ln, msg.data, sizeof ln);
            el.StreamData.LifeNum = ln.life_number;
            el.StreamData.LnFlags = ln.flags;
            if (ln.flags != 1)
                store.LNClearTables(idx);
        }
        break;
    case CG_MSG_P2REPL_CLEARDELETED:
        if (msg.data != nullptr && msg.data_size >= sizeof(cg_data_cleardeleted_t))
            store.ClearDeleted(idx, msg.data, msg.data_size);
        break;
    case CG_MSG_P2REPL_ONLINE:
        el.LsnParams.cgMsgRplOnline = true;
        break;
    case CG_MSG_P2REPL_REPLSTATE:
        // The gateway's buffer lives only during this call.
        el.LsnParams.ReplState =
            conn::FromGateway(static_cast<const char*>(msg.data), msg.data_size);
        break;
    default:
        break;
    }
}

bool AllOnline(const TListeners& listeners) {
    return std::all_of(listeners.begin(), listeners.end(),
                       [](const TListenerData& l) { return l.LsnParams.cgMsgRplOnline; });
}

} // namespace vorlen
