/* Operating-system services of the C test client (client_os.c). */
#ifndef VORLEN_SIM_CLIENT_OS_H
#define VORLEN_SIM_CLIENT_OS_H

#include <stddef.h>

/* Loads the library and fills slots[i] with the address of names[i]; 0 when one is missing. */
int bind_library(const char* path, void** slots, const char* const* names, int count);
void sleep_ms(int ms);
long long now_ms(void);
/* Starts the router with /ini:<ini>; kill_router ends it at once, stop_router asks it to leave
 * and tells whether it left cleanly. */
int start_router(const char* exe, const char* ini);
void kill_router(void);
int stop_router(void);
int make_temp_dir(char* out, size_t n);
/* Removes the router's files (ini, ports, log) and then the folder itself. */
void remove_temp_dir(const char* dir);
void put_env(const char* name, const char* value);
int write_file(const char* path, const char* text);
/* Waits for the ports file the router writes once it listens. */
int read_ports(const char* path, int* port, int* control);

#endif
