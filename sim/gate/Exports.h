#pragma once

// Prototypes of the 34 exported entry points, checked against the function types the terminal
// binds them with, so a signature drift fails to compile here rather than crash there.

#include "../../src/gateway/GatewayCInterface.h"

#ifdef __cplusplus
extern "C" {
#endif

CG_API uint32_t CG_CALL cg_env_open(const char* settings);
CG_API uint32_t CG_CALL cg_env_close(void);
CG_API uint32_t CG_CALL cg_conn_new(const char* settings, cg_conn_t** connptr);
CG_API uint32_t CG_CALL cg_conn_destroy(cg_conn_t* conn);
CG_API uint32_t CG_CALL cg_conn_open(cg_conn_t* conn, const char* settings);
CG_API uint32_t CG_CALL cg_conn_close(cg_conn_t* conn);
CG_API uint32_t CG_CALL cg_conn_getstate(cg_conn_t* conn, uint32_t* state);
CG_API uint32_t CG_CALL cg_conn_process(cg_conn_t* conn, uint32_t timeout, const char* settings);
CG_API uint32_t CG_CALL cg_lsn_new(cg_conn_t* conn, const char* settings, CG_LISTENER_CB cb,
                                   void* data, cg_listener_t** lsnptr);
CG_API uint32_t CG_CALL cg_lsn_destroy(cg_listener_t* lsn);
CG_API uint32_t CG_CALL cg_lsn_getstate(cg_listener_t* lsn, uint32_t* state);
CG_API uint32_t CG_CALL cg_lsn_open(cg_listener_t* lsn, const char* settings);
CG_API uint32_t CG_CALL cg_lsn_close(cg_listener_t* lsn);
CG_API uint32_t CG_CALL cg_lsn_getscheme(cg_listener_t* lsn, cg_scheme_desc_t** schemedesc);
CG_API uint32_t CG_CALL cg_pub_new(cg_conn_t* conn, const char* settings, cg_publisher_t** pubptr);
CG_API uint32_t CG_CALL cg_pub_destroy(cg_publisher_t* pub);
CG_API uint32_t CG_CALL cg_pub_open(cg_publisher_t* pub, const char* settings);
CG_API uint32_t CG_CALL cg_pub_close(cg_publisher_t* pub);
CG_API uint32_t CG_CALL cg_pub_getstate(cg_publisher_t* pub, uint32_t* state);
CG_API uint32_t CG_CALL cg_pub_getscheme(cg_publisher_t* pub, cg_scheme_desc_t** schemedesc);
CG_API uint32_t CG_CALL cg_pub_msgnew(cg_publisher_t* pub, uint32_t id_type, const void* id,
                                      struct cg_msg_t** msgptr);
CG_API uint32_t CG_CALL cg_pub_msgfree(cg_publisher_t* pub, struct cg_msg_t* msg);
CG_API uint32_t CG_CALL cg_pub_post(cg_publisher_t* pub, struct cg_msg_t* msg, uint32_t flags);
CG_API const char* CG_CALL cg_err_getstr(uint32_t errcode);
CG_API uint32_t CG_CALL cg_log_tracestr(const char* str);
CG_API uint32_t CG_CALL cg_log_debugstr(const char* str);
CG_API uint32_t CG_CALL cg_log_infostr(const char* str);
CG_API uint32_t CG_CALL cg_log_errorstr(const char* str);
CG_API uint32_t CG_CALL cg_log_warningstr(const char* str);
CG_API uint32_t CG_CALL cg_msg_dump(struct cg_msg_t* msg, cg_scheme_desc_t* schemedesc,
                                    char* buffer, size_t* bufsize);
CG_API uint32_t CG_CALL cg_bcd_get(const void* bcd, int64_t* intpart, int8_t* scale);
CG_API uint32_t CG_CALL cg_getstr(const char* type, const void* data, char* buffer,
                                  size_t* buffer_size);
CG_API uint32_t CG_CALL cg_env_getcomp_ver(const char* component, uint32_t* major, uint32_t* minor,
                                           uint32_t* build);
CG_API uint32_t CG_CALL cg_env_register_exithandler(CG_EXIT_HANDLER handler, void* data);

#ifdef __cplusplus
} // extern "C"

#include <type_traits>

static_assert(std::is_same_v<decltype(&cg_env_open), cg_env_open_t>);
static_assert(std::is_same_v<decltype(&cg_conn_process), cg_conn_process_t>);
static_assert(std::is_same_v<decltype(&cg_lsn_new), cg_lsn_new_t>);
static_assert(std::is_same_v<decltype(&cg_pub_msgnew), cg_pub_msgnew_t>);
static_assert(std::is_same_v<decltype(&cg_msg_dump), cg_msg_dump_t>);
static_assert(std::is_same_v<decltype(&cg_bcd_get), cg_bcd_get_t>);
static_assert(std::is_same_v<decltype(&cg_getstr), cg_getstr_t>);
static_assert(std::is_same_v<decltype(&cg_env_getcomp_ver), cg_env_getcomp_ver_t>);
static_assert(
    std::is_same_v<decltype(&cg_env_register_exithandler), cg_env_register_exithandler_t>);
#endif
