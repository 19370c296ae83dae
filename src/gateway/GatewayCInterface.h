/*
 * The exchange gateway's C interface, as this terminal uses it.
 *
 * The gateway library is loaded at run time and never linked; this header fixes the function
 * signatures that the entry-point table binds, the records the terminal reads, and the result
 * codes, states and message types it acts on. The offline exchange under sim/ exports exactly
 * this interface, so the layouts below are the contract between the two.
 *
 * Layout choices where the terminal relies on nothing but a few fixed offsets (64-bit build):
 *   - cg_msg_t: type at 0, data_size at 8, data at 16 (fixed).
 *   - cg_msg_data_t (replies, published messages): msg_index at 24, an opaque reference slot at
 *     32, msg_id at 40, msg_name at 48, user_id at 56 (offsets 40/48/56 fixed).
 *   - cg_msg_streamdata_t (one replicated row): msg_index at 24, msg_id at 32, msg_name at 40,
 *     rev at 48, num_nulls at 56, nulls at 64, user_id at 72.
 *   - cg_data_cleardeleted_t: packed, 16 bytes: table_idx at 0, table_rev at 4, flags at 12.
 *   - Life-number message data: two uint32_t, life number then flags (cg_data_lifenum_t).
 *   - Time fields (type letter t): cg_time_t, 10 bytes.
 *   - Decimal fields (type letters d and s) are opaque to the terminal; it only ever reads them
 *     through cg_bcd_get. A gateway may choose its own encoding.
 *
 * Text crossing this interface is zero-terminated single-byte text in code page 1251.
 */
#ifndef VORLEN_GATEWAY_CGATE_H
#define VORLEN_GATEWAY_CGATE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define CG_CALL __cdecl
#if defined(CG_EXPORTS)
#define CG_API __declspec(dllexport)
#else
#define CG_API
#endif
#else
#define CG_CALL
#if defined(CG_EXPORTS)
#define CG_API __attribute__((visibility("default")))
#else
#define CG_API
#endif
#endif

/* Result codes. */
#define CG_ERR_OK 0u
#define CG_ERR_INTERNAL 0x20000u
#define CG_ERR_INVALIDARGUMENT 0x20001u
#define CG_ERR_UNSUPPORTED 0x20002u
#define CG_ERR_TIMEOUT 0x20003u /* cg_conn_process: nothing happened within the timeout */
#define CG_ERR_MORE 0x20004u
#define CG_ERR_INCORRECTSTATE 0x20005u
#define CG_ERR_DUPLICATEID 0x20006u
#define CG_ERR_BUFFERTOOSMALL 0x20007u
#define CG_ERR_OVERFLOW 0x20008u
#define CG_ERR_UNDERFLOW 0x20009u

/* States of connections, listeners and publishers. */
#define CG_STATE_CLOSED 0u
#define CG_STATE_ERROR 1u
#define CG_STATE_OPENING 2u
#define CG_STATE_ACTIVE 3u

/* Message types. */
#define CG_MSG_OPEN 0x100u                 /* listener opened */
#define CG_MSG_CLOSE 0x101u                /* listener closed */
#define CG_MSG_DATA 0x110u                 /* data message: a reply on a reply listener */
#define CG_MSG_STREAM_CHANGED 0x120u       /* stream data: one replicated row */
#define CG_MSG_P2MQ_TIMEOUT 0x1001u        /* no reply within the publisher's timeout */
#define CG_MSG_P2REPL_LIFENUM 0x1110u      /* life number and flags (cg_data_lifenum_t) */
#define CG_MSG_P2REPL_CLEARDELETED 0x1111u /* clear deleted rows (cg_data_cleardeleted_t) */
#define CG_MSG_P2REPL_ONLINE 0x1112u       /* the stream has passed its snapshot */
#define CG_MSG_P2REPL_REPLSTATE 0x1115u    /* replication state text */

/* Key kinds of cg_pub_msgnew. */
#define CG_KEY_INDEX 0u
#define CG_KEY_ID 1u
#define CG_KEY_NAME 2u

/* Flags of cg_pub_post. */
#define CG_PUB_NEEDREPLY 1u

/* scheme_type of a scheme whose messages are fixed-layout records. */
#define CG_SCHEME_BIN 1u

typedef struct cg_conn_t cg_conn_t;
typedef struct cg_listener_t cg_listener_t;
typedef struct cg_publisher_t cg_publisher_t;
typedef cg_listener_t* pcg_listener_t;

typedef struct cg_msg_t {
    uint32_t type;
    size_t data_size;
    void* data;
} cg_msg_t;

typedef struct cg_msg_data_t {
    uint32_t type;
    size_t data_size;
    void* data;
    size_t msg_index;
    void* ref; /* gateway's own correlation slot; not read by the terminal */
    uint32_t msg_id;
    const char* msg_name;
    uint32_t user_id;
} cg_msg_data_t;

typedef struct cg_msg_streamdata_t {
    uint32_t type;
    size_t data_size;
    void* data;
    size_t msg_index;
    uint32_t msg_id;
    const char* msg_name;
    int64_t rev;
    size_t num_nulls;
    const uint8_t* nulls;
    uint64_t user_id;
} cg_msg_streamdata_t;

typedef struct cg_field_value_desc_t cg_field_value_desc_t;

typedef struct cg_field_desc_t {
    struct cg_field_desc_t* next;
    uint32_t id;
    const char* name;
    const char* desc;
    const char* fild_type; /* type letter and size digits, e.g. "i4", "c25", "d16.5", "t" */
    size_t size;
    size_t offset;
    void* def_value;
    size_t num_values;
    cg_field_value_desc_t* values;
    const char* hints;
    size_t max_count;
    struct cg_message_desc_t* type_msg;
} cg_field_desc_t;

typedef struct cg_indexfield_desc_t {
    struct cg_indexfield_desc_t* next;
    cg_field_desc_t* field;
    uint32_t sort_order;
} cg_indexfield_desc_t;

typedef struct cg_index_desc_t {
    struct cg_index_desc_t* next;
    size_t num_fields;
    cg_indexfield_desc_t* fields;
    const char* name;
    const char* desc;
    const char* hints;
} cg_index_desc_t;

typedef struct cg_message_desc_t {
    struct cg_message_desc_t* next;
    size_t size;
    size_t num_fields;
    cg_field_desc_t* fields;
    uint32_t id;
    const char* name;
    const char* desc;
    const char* hints;
    size_t num_indices;
    cg_index_desc_t* indices;
} cg_message_desc_t;

typedef struct cg_scheme_desc_t {
    uint32_t scheme_type;
    uint32_t features;
    size_t num_messages;
    cg_message_desc_t* messages;
    const char* hints;
} cg_scheme_desc_t;

#pragma pack(push, 1)
typedef struct cg_data_cleardeleted_t {
    uint32_t table_idx;
    int64_t table_rev;
    uint32_t flags;
} cg_data_cleardeleted_t;
#pragma pack(pop)

typedef struct cg_data_lifenum_t {
    uint32_t life_number;
    uint32_t flags;
} cg_data_lifenum_t;

/* Type letter t: a calendar date and time of day. */
typedef struct cg_time_t {
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t reserved;
    uint16_t msec;
} cg_time_t;

typedef uint32_t(CG_CALL* CG_LISTENER_CB)(cg_conn_t* conn, cg_listener_t* listener,
                                          struct cg_msg_t* msg, void* data);
typedef void(CG_CALL* CG_EXIT_HANDLER)(void* data);

/* The 34 entry points, in the order the terminal binds them. */
typedef uint32_t(CG_CALL* cg_env_open_t)(const char* settings);
typedef uint32_t(CG_CALL* cg_env_close_t)(void);
typedef uint32_t(CG_CALL* cg_conn_new_t)(const char* settings, cg_conn_t** connptr);
typedef uint32_t(CG_CALL* cg_conn_destroy_t)(cg_conn_t* conn);
typedef uint32_t(CG_CALL* cg_conn_open_t)(cg_conn_t* conn, const char* settings);
typedef uint32_t(CG_CALL* cg_conn_close_t)(cg_conn_t* conn);
typedef uint32_t(CG_CALL* cg_conn_getstate_t)(cg_conn_t* conn, uint32_t* state);
typedef uint32_t(CG_CALL* cg_conn_process_t)(cg_conn_t* conn, uint32_t timeout,
                                             const char* settings);
typedef uint32_t(CG_CALL* cg_lsn_new_t)(cg_conn_t* conn, const char* settings, CG_LISTENER_CB cb,
                                        void* data, cg_listener_t** lsnptr);
typedef uint32_t(CG_CALL* cg_lsn_destroy_t)(cg_listener_t* lsn);
typedef uint32_t(CG_CALL* cg_lsn_getstate_t)(cg_listener_t* lsn, uint32_t* state);
typedef uint32_t(CG_CALL* cg_lsn_open_t)(cg_listener_t* lsn, const char* settings);
typedef uint32_t(CG_CALL* cg_lsn_close_t)(cg_listener_t* lsn);
typedef uint32_t(CG_CALL* cg_lsn_getscheme_t)(cg_listener_t* lsn, cg_scheme_desc_t** schemedesc);
typedef uint32_t(CG_CALL* cg_pub_new_t)(cg_conn_t* conn, const char* settings,
                                        cg_publisher_t** pubptr);
typedef uint32_t(CG_CALL* cg_pub_destroy_t)(cg_publisher_t* pub);
typedef uint32_t(CG_CALL* cg_pub_open_t)(cg_publisher_t* pub, const char* settings);
typedef uint32_t(CG_CALL* cg_pub_close_t)(cg_publisher_t* pub);
typedef uint32_t(CG_CALL* cg_pub_getstate_t)(cg_publisher_t* pub, uint32_t* state);
typedef uint32_t(CG_CALL* cg_pub_getscheme_t)(cg_publisher_t* pub, cg_scheme_desc_t** schemedesc);
typedef uint32_t(CG_CALL* cg_pub_msgnew_t)(cg_publisher_t* pub, uint32_t id_type, const void* id,
                                           struct cg_msg_t** msgptr);
typedef uint32_t(CG_CALL* cg_pub_msgfree_t)(cg_publisher_t* pub, struct cg_msg_t* msg);
typedef uint32_t(CG_CALL* cg_pub_post_t)(cg_publisher_t* pub, struct cg_msg_t* msg, uint32_t flags);
typedef const char*(CG_CALL* cg_err_getstr_t)(uint32_t errcode);
typedef uint32_t(CG_CALL* cg_log_tracestr_t)(const char* str);
typedef uint32_t(CG_CALL* cg_log_debugstr_t)(const char* str);
typedef uint32_t(CG_CALL* cg_log_infostr_t)(const char* str);
typedef uint32_t(CG_CALL* cg_log_errorstr_t)(const char* str);
typedef uint32_t(CG_CALL* cg_log_warningstr_t)(const char* str);
typedef uint32_t(CG_CALL* cg_msg_dump_t)(struct cg_msg_t* msg, cg_scheme_desc_t* schemedesc,
                                         char* buffer, size_t* bufsize);
typedef uint32_t(CG_CALL* cg_bcd_get_t)(const void* bcd, int64_t* intpart, int8_t* scale);
typedef uint32_t(CG_CALL* cg_getstr_t)(const char* type, const void* data, char* buffer,
                                       size_t* buffer_size);
typedef uint32_t(CG_CALL* cg_env_getcomp_ver_t)(const char* component, uint32_t* major,
                                                uint32_t* minor, uint32_t* build);
typedef uint32_t(CG_CALL* cg_env_register_exithandler_t)(CG_EXIT_HANDLER handler, void* data);

#ifdef __cplusplus
} /* extern "C" */

#include <type_traits>

static_assert(sizeof(void*) == 8, "the gateway's message layouts are those of a 64-bit build");
static_assert(offsetof(cg_msg_t, type) == 0);
static_assert(offsetof(cg_msg_t, data_size) == 8);
static_assert(offsetof(cg_msg_t, data) == 16);
static_assert(offsetof(cg_msg_data_t, msg_id) == 40);
static_assert(offsetof(cg_msg_data_t, msg_name) == 48);
static_assert(offsetof(cg_msg_data_t, user_id) == 56);
static_assert(offsetof(cg_msg_streamdata_t, msg_index) == 24);
static_assert(offsetof(cg_msg_streamdata_t, user_id) == 72);
static_assert(sizeof(cg_data_cleardeleted_t) == 16);
static_assert(offsetof(cg_data_cleardeleted_t, table_rev) == 4);
static_assert(offsetof(cg_data_cleardeleted_t, flags) == 12);
static_assert(sizeof(cg_data_lifenum_t) == 8);
static_assert(offsetof(cg_time_t, msec) == 8);
static_assert(sizeof(cg_time_t) == 10);
#endif

#endif /* VORLEN_GATEWAY_CGATE_H */
