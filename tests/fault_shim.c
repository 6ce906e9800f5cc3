/* A failing disk for tests, loaded into tarvelo-build with LD_PRELOAD: reads or writes of the files
 * whose path (or name below a folder) contains TARVELO_FAULT_PATH fail with the error number
 * TARVELO_FAULT_ERRNO (EIO for a bad sector, ENOSPC for a full disk) once TARVELO_FAULT_AFTER bytes
 * (0 when unset) have passed. TARVELO_FAULT_OP says which: "read" or "write". Real faults of the
 * system are what a user meets, so the program is tested against them rather than against a seam of
 * its own. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

enum { kMaxDescriptors = 4096 };
static unsigned char marked[kMaxDescriptors];
static unsigned long long passed[kMaxDescriptors];

static int Writing(int flags) { return (flags & O_ACCMODE) != O_RDONLY; }

static void Mark(int fd, const char* path, int flags) {
    const char* want = getenv("TARVELO_FAULT_PATH");
    const char* op = getenv("TARVELO_FAULT_OP");
    if (fd < 0 || fd >= kMaxDescriptors || !want || !*want || !op || !path) {
        return;
    }
    int forWrite = strcmp(op, "write") == 0;
    marked[fd] = strstr(path, want) != NULL && Writing(flags) == forWrite;
    passed[fd] = 0;
}

/* Whether this transfer of `length` bytes on `fd` must fail; sets errno when it must. */
static int Fails(int fd, size_t length) {
    if (fd < 0 || fd >= kMaxDescriptors || !marked[fd]) {
        return 0;
    }
    const char* after = getenv("TARVELO_FAULT_AFTER");
    unsigned long long limit = after ? strtoull(after, NULL, 10) : 0;
    if (passed[fd] + length <= limit) {
        passed[fd] += length;
        return 0;
    }
    const char* number = getenv("TARVELO_FAULT_ERRNO");
    errno = number ? atoi(number) : EIO;
    return 1;
}

#define NEXT(name, type) ((type)dlsym(RTLD_NEXT, name))

static mode_t ModeOf(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    int fd = NEXT("open", int (*)(const char*, int, ...))(path, flags, mode);
    Mark(fd, path, flags);
    return fd;
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    int fd = NEXT("open64", int (*)(const char*, int, ...))(path, flags, mode);
    Mark(fd, path, flags);
    return fd;
}

int openat(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    int fd = NEXT("openat", int (*)(int, const char*, int, ...))(dir, path, flags, mode);
    Mark(fd, path, flags);
    return fd;
}

int openat64(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    int fd = NEXT("openat64", int (*)(int, const char*, int, ...))(dir, path, flags, mode);
    Mark(fd, path, flags);
    return fd;
}

int close(int fd) {
    if (fd >= 0 && fd < kMaxDescriptors) {
        marked[fd] = 0;
    }
    return NEXT("close", int (*)(int))(fd);
}

ssize_t read(int fd, void* buffer, size_t length) {
    if (Fails(fd, length)) {
        return -1;
    }
    return NEXT("read", ssize_t (*)(int, void*, size_t))(fd, buffer, length);
}

ssize_t write(int fd, const void* buffer, size_t length) {
    if (Fails(fd, length)) {
        return -1;
    }
    return NEXT("write", ssize_t (*)(int, const void*, size_t))(fd, buffer, length);
}
