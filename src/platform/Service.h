#pragma once

#include <string>
#include <string_view>

namespace vorlen::platform {

// Whether the service `name` is running on `machine` (an empty machine is this one).
//
// Windows asks the service control manager of that machine. Elsewhere the router runs, if at all,
// as the systemd unit NAME.service of this machine: where systemd manages the system its state
// decides, otherwise nothing counts as running. `machine` is accepted for the same call shape
// and not used there.
bool IsServiceRunning(const std::string& machine, const std::string& name);

#ifndef _WIN32
// Unit names as systemd accepts them: letters, digits and ":-_.\@", not starting with "-" (it
// would reach systemctl as an option), at most 255 characters.
bool IsValidUnitName(std::string_view name);
// "NAME.service", or NAME itself when it already names a unit type.
std::string ServiceUnitName(const std::string& name);
// True when systemd manages this system (its runtime folder exists).
bool SystemdRuns();
// Runs `systemctl is-active --quiet -- UNIT` from the given program file, without a shell; true
// when it reports the unit active. Gives up (false) after `timeoutMs`, killing the query, so a
// stuck bus cannot hold up the terminal's start.
bool SystemdUnitActive(const std::string& systemctl, const std::string& unit, int timeoutMs);
#endif

} // namespace vorlen::platform
