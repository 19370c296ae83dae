#pragma once

// The exchange's result codes, as carried in the "code" field of a reply to a posted message, and
// the Russian texts the terminal shows for them.

#include <cstdint>
#include <string_view>

namespace vorlen {

// Codes the terminal acts on rather than only shows.
inline constexpr std::int32_t kReplyOk = 0;
// "Не найдена заявка для удаления.": the order was gone already when its removal arrived.
inline constexpr std::int32_t kReplyOrderToDeleteNotFound = 14;

// The text of an exchange reply code, UTF-8, or an empty view for a code the terminal does not
// know. The view refers to static storage and is zero-terminated, so it stays valid for the life
// of the program and can be handed on as a C string. No state; safe from any thread.
std::string_view GetReplyText(std::int32_t code) noexcept;

} // namespace vorlen
