#pragma once

// The console's orders: --order, --cancel-all and --risk, run once the terminal is on-line.

#include "main/console/ConsoleDesk.h"
#include "main/console/ConsoleOptions.h"
#include "platform/Journal.h"

#include <functional>

namespace vorlen {

// Waits until both links are on-line, places the orders through the console's desk, waits for their
// replies, throws the kill switch when asked and lists own orders. 0, or kExitOrderRefused when an
// order or a cancel was refused, failed, went unanswered or the kill switch could not confirm every
// cancel. `stop` ends the waits early.
int RunConsoleOrders(const TConsoleOptions& options, TConsoleDesk& console, TJournalSink& journal,
                     const std::function<bool()>& stop);

} // namespace vorlen
