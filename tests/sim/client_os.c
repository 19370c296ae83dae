/* Operating-system services of the C test client: loading the library, starting and stopping
 * the router, files, time. */
#include "client_os.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

/* ---- operating system: library, process, files, time ---- */

#ifdef _WIN32
static PROCESS_INFORMATION router_proc;
static int router_running = 0;

int bind_library(const char* path, void** slots, const char* const* names, int count) {
    HMODULE h = LoadLibraryA(path);
    int i;
    if (h == NULL) {
        return 0;
    }
    for (i = 0; i < count; ++i) {
        FARPROC p = GetProcAddress(h, names[i]);
        if (p == NULL) {
            fprintf(stderr, "missing %s\n", names[i]);
            return 0;
        }
        memcpy(&slots[i], &p, sizeof p);
    }
    return 1;
}

void sleep_ms(int ms) {
    Sleep((DWORD)ms);
}

long long now_ms(void) {
    return (long long)GetTickCount64();
}

int start_router(const char* exe, const char* ini) {
    char cmd[2048];
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    snprintf(cmd, sizeof cmd, "\"%s\" /ini:\"%s\"", exe, ini);
    if (!CreateProcessA(NULL, cmd, NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &si,
                        &router_proc)) {
        return 0;
    }
    router_running = 1;
    return 1;
}

void kill_router(void) {
    if (router_running) {
        TerminateProcess(router_proc.hProcess, 0);
        WaitForSingleObject(router_proc.hProcess, INFINITE);
        CloseHandle(router_proc.hProcess);
        CloseHandle(router_proc.hThread);
        router_running = 0;
    }
}

/* Windows has no SIGTERM for a console-less child; the control channel's "quit" stops it. */
int stop_router(void) {
    kill_router();
    return 1;
}

int make_temp_dir(char* out, size_t n) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    snprintf(out, n, "%svorlen-sim-%lu", base, (unsigned long)GetCurrentProcessId());
    return CreateDirectoryA(out, NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

void put_env(const char* name, const char* value) {
    _putenv_s(name, value ? value : "");
}
#else
static pid_t router_pid = 0;

int bind_library(const char* path, void** slots, const char* const* names, int count) {
    void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    int i;
    if (h == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror()); /* NOLINT(concurrency-mt-unsafe) */
        return 0;
    }
    for (i = 0; i < count; ++i) {
        void* p = dlsym(h, names[i]);
        if (p == NULL) {
            fprintf(stderr, "missing %s\n", names[i]);
            return 0;
        }
        slots[i] = p;
    }
    return 1;
}

void sleep_ms(int ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&ts, NULL);
}

long long now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

int start_router(const char* exe, const char* ini) {
    char arg[2048];
    snprintf(arg, sizeof arg, "/ini:%s", ini);
    router_pid = fork();
    if (router_pid == 0) {
        /* Dies with this test, even when the test is killed on its timeout. */
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execl(exe, "P2MQRouter64.exe", arg, (char*)NULL);
        _exit(127);
    }
    return router_pid > 0;
}

void kill_router(void) {
    if (router_pid > 0) {
        kill(router_pid, SIGKILL);
        waitpid(router_pid, NULL, 0);
        router_pid = 0;
    }
}

/* SIGTERM: the router must leave on its own with status 0. */
int stop_router(void) {
    int status = 0;
    if (router_pid <= 0) {
        return 0;
    }
    kill(router_pid, SIGTERM);
    waitpid(router_pid, &status, 0);
    router_pid = 0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int make_temp_dir(char* out, size_t n) {
    const char* base = getenv("TMPDIR"); /* NOLINT(concurrency-mt-unsafe) */
    snprintf(out, n, "%s/vorlen-sim-XXXXXX", base && *base ? base : "/tmp");
    return mkdtemp(out) != NULL;
}

/* The client sets its environment before it starts any thread. */
/* NOLINTBEGIN(concurrency-mt-unsafe) */
void put_env(const char* name, const char* value) {
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}
/* NOLINTEND(concurrency-mt-unsafe) */
#endif

int write_file(const char* path, const char* text) {
    FILE* f = fopen(path, "wb");
    if (f == NULL) {
        return 0;
    }
    fputs(text, f);
    fclose(f);
    return 1;
}

/* Waits for the ports file the router writes once it listens. */
int read_ports(const char* path, int* port, int* control) {
    long long until = now_ms() + 15000;
    while (now_ms() < until) {
        FILE* f = fopen(path, "r");
        if (f != NULL) {
            int ok = fscanf(f, "port=%d control_port=%d", port, control) == 2;
            fclose(f);
            if (ok) {
                return 1;
            }
        }
        sleep_ms(20);
    }
    return 0;
}

void remove_temp_dir(const char* dir) {
    static const char* const kFiles[] = {"client_router.ini", "router.ports", "router.ports.tmp",
                                         "router.log"};
    char path[1200];
    size_t i;
    for (i = 0; i < sizeof kFiles / sizeof kFiles[0]; ++i) {
        snprintf(path, sizeof path, "%.1000s/%s", dir, kFiles[i]);
        remove(path);
    }
#ifdef _WIN32
    RemoveDirectoryA(dir);
#else
    rmdir(dir);
#endif
}
