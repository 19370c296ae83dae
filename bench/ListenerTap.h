#pragma once

// A bench's view of the messages the gateway library hands to the terminal's listeners. The
// terminal's connections register their listeners through the entry-point table, so the table's
// cg_lsn_new is swapped for one that registers a forwarding callback instead; the bench's tap
// then sees each message with the listener's own callback, which it calls itself, before or
// after looking. `TState` is what the tap keeps per listener (what it learnt from the scheme).

#include "gateway/Cgate.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace vorlen::bench {

template <class TState>
class TListenerTap {
public:
    struct TListener {
        CG_LISTENER_CB Callback = nullptr;
        void* Data = nullptr;
        std::string Settings; // the listener's settings string ("p2repl://STREAM;...")
        TState State{};

        std::uint32_t Forward(cg_conn_t* conn, cg_listener_t* lsn, cg_msg_t* msg) {
            return Callback(conn, lsn, msg, Data);
        }
    };
    using TTapFn = std::uint32_t (*)(TListener& l, cg_conn_t* conn, cg_listener_t* lsn,
                                     cg_msg_t* msg);

    // Swaps the table's entry; the library must be loaded (loading fills the table anew).
    static void Install(TTapFn tap) {
        if (FReal == nullptr)
            FReal = CG().cg_lsn_new;
        FTap = tap;
        CG().cg_lsn_new = &TappedNew;
    }
    // Listeners already registered stay tapped: their forwards live as long as the program.
    static void Remove() {
        if (FReal != nullptr)
            CG().cg_lsn_new = FReal;
    }

private:
    static std::uint32_t CG_CALL Tapped(cg_conn_t* conn, cg_listener_t* lsn, cg_msg_t* msg,
                                        void* data) {
        return FTap(*static_cast<TListener*>(data), conn, lsn, msg);
    }
    // Both connections' threads register listeners, each at its own moments. The gateway may
    // call a listener until it is destroyed, and a deque never moves its elements.
    static std::uint32_t CG_CALL TappedNew(cg_conn_t* conn, const char* settings, CG_LISTENER_CB cb,
                                           void* data, cg_listener_t** lsn) {
        TListener* l = nullptr;
        {
            std::lock_guard lock(FLock);
            FListeners.push_back({cb, data, settings != nullptr ? settings : "", {}});
            l = &FListeners.back();
        }
        return FReal(conn, settings, &Tapped, l, lsn);
    }

    static inline cg_lsn_new_t FReal = nullptr;
    static inline TTapFn FTap = nullptr;
    static inline std::mutex FLock;
    static inline std::deque<TListener> FListeners;
};

} // namespace vorlen::bench
