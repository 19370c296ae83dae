/* A gateway stand-in with all 34 names that cannot load without its companion DLL. Only the
   names matter to the loader; each entry answers what the companion answers. */
__declspec(dllimport) unsigned probe_dep_answer(void);

#define PROBE_ENTRY(name)                                                                          \
    __declspec(dllexport) unsigned name(void) {                                                    \
        return probe_dep_answer();                                                                 \
    }

PROBE_ENTRY(cg_env_open)
PROBE_ENTRY(cg_env_close)
PROBE_ENTRY(cg_conn_new)
PROBE_ENTRY(cg_conn_destroy)
PROBE_ENTRY(cg_conn_open)
PROBE_ENTRY(cg_conn_close)
PROBE_ENTRY(cg_conn_getstate)
PROBE_ENTRY(cg_conn_process)
PROBE_ENTRY(cg_lsn_new)
PROBE_ENTRY(cg_lsn_destroy)
PROBE_ENTRY(cg_lsn_getstate)
PROBE_ENTRY(cg_lsn_open)
PROBE_ENTRY(cg_lsn_close)
PROBE_ENTRY(cg_lsn_getscheme)
PROBE_ENTRY(cg_pub_new)
PROBE_ENTRY(cg_pub_destroy)
PROBE_ENTRY(cg_pub_open)
PROBE_ENTRY(cg_pub_close)
PROBE_ENTRY(cg_pub_getstate)
PROBE_ENTRY(cg_pub_getscheme)
PROBE_ENTRY(cg_pub_msgnew)
PROBE_ENTRY(cg_pub_msgfree)
PROBE_ENTRY(cg_pub_post)
PROBE_ENTRY(cg_err_getstr)
PROBE_ENTRY(cg_log_tracestr)
PROBE_ENTRY(cg_log_debugstr)
PROBE_ENTRY(cg_log_infostr)
PROBE_ENTRY(cg_log_errorstr)
PROBE_ENTRY(cg_log_warningstr)
PROBE_ENTRY(cg_msg_dump)
PROBE_ENTRY(cg_bcd_get)
PROBE_ENTRY(cg_getstr)
PROBE_ENTRY(cg_env_getcomp_ver)
PROBE_ENTRY(cg_env_register_exithandler)
