#pragma once

// The console's orders: --order, --cancel-all and --risk, run once the terminal is on-line.

#include "main/ConnectorPort.h"
#include "main/console/ConsoleOptions.h"
#include "platform/Journal.h"

#include <filesystem>
#include <functional>
#include <ostream>

namespace vorlen {

// Loads the limits (kExitUsage with the reason on `err` when the file is damaged), waits until
// the transaction publisher is active, places the orders, waits for their replies, throws the
// kill switch when asked and lists own orders. 0, or kExitOrderRefused when an order or a
// cancel was refused, failed, went unanswered or the kill switch could not confirm every cancel.
// `stop` ends the waits early.
int RunConsoleOrders(const TConsoleOptions& options, TConnectorPort& port, TJournalSink& journal,
                     const std::filesystem::path& dataDir, const std::function<bool()>& stop,
                     std::ostream& err);

} // namespace vorlen
