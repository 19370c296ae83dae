#pragma once

#include "../../src/gateway/GatewayCInterface.h"

#include <cstdint>
#include <string>

namespace vsim::gate {

std::uint32_t OpenEnv(const char* settings);
std::uint32_t CloseEnv();
std::uint32_t RegisterExitHandler(CG_EXIT_HANDLER handler, void* data);
std::uint32_t ComponentVersion(const char* component, std::uint32_t* major, std::uint32_t* minor,
                               std::uint32_t* build);
std::string LibraryFolder();

// Text of a field value for cg_getstr and cg_msg_dump; false for an unknown type.
bool FieldText(const char* type, const void* data, std::string& out);

} // namespace vsim::gate
