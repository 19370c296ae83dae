/*
 * A stand-in gateway library for the loader's tests. Every entry point answers 1000 plus its
 * position in the binding order, so a test can tell that each table entry reached the right
 * function. cg_env_open accepts a settings text that starts with "ini=", and cg_env_getcomp_ver
 * answers the version in the environment variable FAKEGATE_CGATE_VERSION ("major.minor.build").
 * Built once whole and once per OMIT_<name> definition, which leaves out that one name.
 */
#include "gateway/GatewayCInterface.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ANSWER(index) return 1000u + (index)

#ifndef OMIT_cg_env_open
CG_API uint32_t CG_CALL cg_env_open(const char* settings) {
    if (settings != NULL && strncmp(settings, "ini=", 4) == 0)
        return CG_ERR_OK;
    ANSWER(0);
}
#endif

CG_API uint32_t CG_CALL cg_env_close(void) {
    ANSWER(1);
}

CG_API uint32_t CG_CALL cg_conn_new(const char* settings, cg_conn_t** connptr) {
    (void)settings;
    (void)connptr;
    ANSWER(2);
}

CG_API uint32_t CG_CALL cg_conn_destroy(cg_conn_t* conn) {
    (void)conn;
    ANSWER(3);
}

CG_API uint32_t CG_CALL cg_conn_open(cg_conn_t* conn, const char* settings) {
    (void)conn;
    (void)settings;
    ANSWER(4);
}

CG_API uint32_t CG_CALL cg_conn_close(cg_conn_t* conn) {
    (void)conn;
    ANSWER(5);
}

CG_API uint32_t CG_CALL cg_conn_getstate(cg_conn_t* conn, uint32_t* state) {
    (void)conn;
    (void)state;
    ANSWER(6);
}

CG_API uint32_t CG_CALL cg_conn_process(cg_conn_t* conn, uint32_t timeout, const char* settings) {
    (void)conn;
    (void)timeout;
    (void)settings;
    ANSWER(7);
}

CG_API uint32_t CG_CALL cg_lsn_new(cg_conn_t* conn, const char* settings, CG_LISTENER_CB cb,
                                   void* data, cg_listener_t** lsnptr) {
    (void)conn;
    (void)settings;
    (void)cb;
    (void)data;
    (void)lsnptr;
    ANSWER(8);
}

CG_API uint32_t CG_CALL cg_lsn_destroy(cg_listener_t* lsn) {
    (void)lsn;
    ANSWER(9);
}

CG_API uint32_t CG_CALL cg_lsn_getstate(cg_listener_t* lsn, uint32_t* state) {
    (void)lsn;
    (void)state;
    ANSWER(10);
}

CG_API uint32_t CG_CALL cg_lsn_open(cg_listener_t* lsn, const char* settings) {
    (void)lsn;
    (void)settings;
    ANSWER(11);
}

CG_API uint32_t CG_CALL cg_lsn_close(cg_listener_t* lsn) {
    (void)lsn;
    ANSWER(12);
}

CG_API uint32_t CG_CALL cg_lsn_getscheme(cg_listener_t* lsn, cg_scheme_desc_t** schemedesc) {
    (void)lsn;
    (void)schemedesc;
    ANSWER(13);
}

CG_API uint32_t CG_CALL cg_pub_new(cg_conn_t* conn, const char* settings, cg_publisher_t** pubptr) {
    (void)conn;
    (void)settings;
    (void)pubptr;
    ANSWER(14);
}

CG_API uint32_t CG_CALL cg_pub_destroy(cg_publisher_t* pub) {
    (void)pub;
    ANSWER(15);
}

CG_API uint32_t CG_CALL cg_pub_open(cg_publisher_t* pub, const char* settings) {
    (void)pub;
    (void)settings;
    ANSWER(16);
}

CG_API uint32_t CG_CALL cg_pub_close(cg_publisher_t* pub) {
    (void)pub;
    ANSWER(17);
}

CG_API uint32_t CG_CALL cg_pub_getstate(cg_publisher_t* pub, uint32_t* state) {
    (void)pub;
    (void)state;
    ANSWER(18);
}

CG_API uint32_t CG_CALL cg_pub_getscheme(cg_publisher_t* pub, cg_scheme_desc_t** schemedesc) {
    (void)pub;
    (void)schemedesc;
    ANSWER(19);
}

CG_API uint32_t CG_CALL cg_pub_msgnew(cg_publisher_t* pub, uint32_t id_type, const void* id,
                                      struct cg_msg_t** msgptr) {
    (void)pub;
    (void)id_type;
    (void)id;
    (void)msgptr;
    ANSWER(20);
}

CG_API uint32_t CG_CALL cg_pub_msgfree(cg_publisher_t* pub, struct cg_msg_t* msg) {
    (void)pub;
    (void)msg;
    ANSWER(21);
}

CG_API uint32_t CG_CALL cg_pub_post(cg_publisher_t* pub, struct cg_msg_t* msg, uint32_t flags) {
    (void)pub;
    (void)msg;
    (void)flags;
    ANSWER(22);
}

/* Answers its own position as text. */
CG_API const char* CG_CALL cg_err_getstr(uint32_t errcode) {
    (void)errcode;
    return "1023";
}

CG_API uint32_t CG_CALL cg_log_tracestr(const char* str) {
    (void)str;
    ANSWER(24);
}

CG_API uint32_t CG_CALL cg_log_debugstr(const char* str) {
    (void)str;
    ANSWER(25);
}

CG_API uint32_t CG_CALL cg_log_infostr(const char* str) {
    (void)str;
    ANSWER(26);
}

CG_API uint32_t CG_CALL cg_log_errorstr(const char* str) {
    (void)str;
    ANSWER(27);
}

CG_API uint32_t CG_CALL cg_log_warningstr(const char* str) {
    (void)str;
    ANSWER(28);
}

CG_API uint32_t CG_CALL cg_msg_dump(struct cg_msg_t* msg, cg_scheme_desc_t* schemedesc,
                                    char* buffer, size_t* bufsize) {
    (void)msg;
    (void)schemedesc;
    (void)buffer;
    (void)bufsize;
    ANSWER(29);
}

CG_API uint32_t CG_CALL cg_bcd_get(const void* bcd, int64_t* intpart, int8_t* scale) {
    (void)bcd;
    (void)intpart;
    (void)scale;
    ANSWER(30);
}

CG_API uint32_t CG_CALL cg_getstr(const char* type, const void* data, char* buffer,
                                  size_t* buffer_size) {
    (void)type;
    (void)data;
    (void)buffer;
    (void)buffer_size;
    ANSWER(31);
}

CG_API uint32_t CG_CALL cg_env_getcomp_ver(const char* component, uint32_t* major, uint32_t* minor,
                                           uint32_t* build) {
    const char* version = getenv("FAKEGATE_CGATE_VERSION");
    unsigned a, b, c;
    if (component == NULL || strcmp(component, "cgate") != 0 || version == NULL ||
        sscanf(version, "%u.%u.%u", &a, &b, &c) != 3)
        ANSWER(32);
    *major = a;
    *minor = b;
    *build = c;
    return CG_ERR_OK;
}

#ifndef OMIT_cg_env_register_exithandler
CG_API uint32_t CG_CALL cg_env_register_exithandler(CG_EXIT_HANDLER handler, void* data) {
    (void)handler;
    (void)data;
    ANSWER(33);
}
#endif
