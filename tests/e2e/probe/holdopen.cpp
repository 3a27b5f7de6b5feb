// Preloaded into the application by the desktop scenarios: opening a file whose path contains
// $HOLDOPEN_MATCH first waits $HOLDOPEN_SECS seconds (-1: for ever), as a cold disk or a hung network
// file system would.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void hold(const char* path) {
    const char* match = std::getenv("HOLDOPEN_MATCH");
    if (!match || !*match || !path || !std::strstr(path, match)) {
        return;
    }
    const char* secs = std::getenv("HOLDOPEN_SECS");
    const int wait = secs ? std::atoi(secs) : 0;
    while (wait < 0) {
        pause();
    }
    sleep(static_cast<unsigned>(wait));
}

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

mode_t modeOf(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, unsigned)) : 0;
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    hold(path);
    return next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    hold(path);
    return next<int (*)(const char*, int, ...)>("open64")(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    hold(path);
    return next<int (*)(int, const char*, int, ...)>("openat")(dir, path, flags, mode);
}

FILE* fopen(const char* path, const char* mode) {
    hold(path);
    return next<FILE* (*)(const char*, const char*)>("fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    hold(path);
    return next<FILE* (*)(const char*, const char*)>("fopen64")(path, mode);
}
}
