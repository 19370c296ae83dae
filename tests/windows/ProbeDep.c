/* The gateway stand-in's own dependency: a DLL that sits beside it and is found only through the
   current directory, as the real gateway's companion DLLs are. */
__declspec(dllexport) unsigned probe_dep_answer(void) {
    return 42u;
}
