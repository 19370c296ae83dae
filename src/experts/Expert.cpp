#include "experts/Expert.h"

#include "connections/ErrorCode.h"
#include "connections/TrConnection.h"
#include "platform/FormatSettings.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"

namespace vorlen {

bool TTrReplies::GetReplData(std::uint32_t Key, TReplData& Data) {
    return FConn.GetReplData(Key, Data);
}

TExpert::TExpert(TCGStorage& store, TOrderReplies* replies)
    : DataBase(store), FStore(store), FReplies(replies) {
    FStore.GetData(DataBase.DataBuff);
    DataBase.BuildDataMap();
}

TExpert::~TExpert() {
    Stop();
}

bool TExpert::RegisterAndStart() {
    FStore.RegEvent(isin_id, TickEvent());
    FRegistered = true;
    FRegisteredKey = isin_id;
    Start();
    return true;
}

void TExpert::Unregister() {
    // The main window may also have registered TickEvent under isin_id itself; withdrawing an
    // entry that is not there does nothing, so both are withdrawn.
    FStore.UnregEvent(isin_id, TickEvent());
    if (FRegistered && FRegisteredKey != isin_id)
        FStore.UnregEvent(FRegisteredKey, TickEvent());
    FRegistered = false;
}

void TExpert::DropPendingReply() {
    // A reply still pending for our order would signal OrderEvent after we are gone.
    if (TransId != 0 && FReplies != nullptr) {
        TReplData dropped;
        FReplies->GetReplData(TransId, dropped);
    }
}

void TExpert::Stop() {
    Unregister();
    if (Started() && !Finished()) {
        ExitEvent().Set();
        Terminate();
        WaitFor();
    }
    // Only once the thread has ended: until then its OrderReply may be taking the same reply, and
    // an order it places would register one that nobody withdraws.
    DropPendingReply();
}

void TExpert::Execute() {
    struct TEnd {
        TExpertHook* Hook;
        ~TEnd() {
            if (Hook != nullptr)
                Hook->OnThreadEnd();
        }
    } end{FHook};
    while (!Terminated()) {
        switch (FEvents.WaitAny()) {
        case kTickEvent:
            FStore.GetData(DataBase.DataBuff);
            ProcessTick();
            break;
        case kOrderEvent:
            OrderReply();
            if (FHook != nullptr)
                FHook->OnOrderReplies();
            break;
        case kHookEvent:
            if (FHook != nullptr)
                FHook->OnHookEvent();
            break;
        case kExitEvent:
            return;
        default: // TradeEvent and ErrorEvent carry nothing yet
            break;
        }
    }
}

void TExpert::OrderReply() {
    if (FReplies == nullptr)
        return;
    TReplData reply;
    if (!FReplies->GetReplData(TransId, reply))
        return;
    const auto code = reply.Fields.find("code");
    if (code == reply.Fields.end())
        return;
    const std::int32_t c = VarAsInteger(code->second.Data);
    // An order already gone when its removal arrived is no failure either.
    if (c == kReplyOk || c == kReplyOrderToDeleteNotFound)
        return;
    WriteMemo("Ошибка отправки ордера " + Futisin + ". Причина: " + std::string(GetReplyText(c)));
}

void TExpert::WriteMemo(const std::string& text) {
    MemoStr = text;
    Synchronize([this] { UpdMemo(); });
}

void TExpert::UpdMemo() {
    if (Memo != nullptr)
        Memo->AppendLine(JournalLine(MemoStr));
}

} // namespace vorlen
