/* Loaded before the C library (LD_PRELOAD) into a referee for a benchmark,
 * it makes every thread's scheduler statistics unreadable, as on kernels
 * without them or in sandboxes that hide them: opening a file whose name
 * ends in "/schedstat" fails with ENOENT.  Everything else is opened as
 * the C library opens it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>

static int IsHidden(const char* path) {
    static const char suffix[] = "/schedstat";
    const size_t len = strlen(path);
    return len >= sizeof suffix - 1 && strcmp(path + len - (sizeof suffix - 1), suffix) == 0;
}

typedef int (*OpenFn)(const char*, int, ...);

static int OpenUnlessHidden(OpenFn* real, const char* name, const char* path, int flags, va_list args) {
    if (!*real) *real = (OpenFn)dlsym(RTLD_NEXT, name);
    if (IsHidden(path)) {
        errno = ENOENT;
        return -1;
    }
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    return (*real)(path, flags, mode);
}

int open(const char* path, int flags, ...) {
    static OpenFn s_real;
    va_list args;
    va_start(args, flags);
    const int fd = OpenUnlessHidden(&s_real, "open", path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char* path, int flags, ...) {
    static OpenFn s_real;
    va_list args;
    va_start(args, flags);
    const int fd = OpenUnlessHidden(&s_real, "open64", path, flags, args);
    va_end(args);
    return fd;
}
