#pragma once

// The body of the gateway's "AddOrder" message as the terminal fills it: 125 bytes, packed,
// little-endian, copied byte for byte into the message.

#include <cstddef>
#include <cstdint>

namespace vorlen {

#pragma pack(push, 1)
struct TAddOrderParams {
    char broker_code[6];
    std::int32_t isin_id;
    char client_code[5];
    std::int32_t dir;
    std::int32_t atype;
    std::int32_t amount;
    char price[19];
    char comment[22];
    char broker_to[22];
    std::int32_t ext_id;
    std::int32_t is_check_limit;
    char date_exp[10];
    std::int32_t dont_check_money;
    char match_ref[12];
    std::int8_t ncc_request;
};
#pragma pack(pop)

static_assert(sizeof(TAddOrderParams) == 125);
static_assert(offsetof(TAddOrderParams, broker_code) == 0);
static_assert(offsetof(TAddOrderParams, isin_id) == 6);
static_assert(offsetof(TAddOrderParams, client_code) == 10);
static_assert(offsetof(TAddOrderParams, dir) == 15);
static_assert(offsetof(TAddOrderParams, atype) == 19);
static_assert(offsetof(TAddOrderParams, amount) == 23);
static_assert(offsetof(TAddOrderParams, price) == 27);
static_assert(offsetof(TAddOrderParams, comment) == 46);
static_assert(offsetof(TAddOrderParams, broker_to) == 68);
static_assert(offsetof(TAddOrderParams, ext_id) == 90);
static_assert(offsetof(TAddOrderParams, is_check_limit) == 94);
static_assert(offsetof(TAddOrderParams, date_exp) == 98);
static_assert(offsetof(TAddOrderParams, dont_check_money) == 108);
static_assert(offsetof(TAddOrderParams, match_ref) == 112);
static_assert(offsetof(TAddOrderParams, ncc_request) == 124);

} // namespace vorlen
