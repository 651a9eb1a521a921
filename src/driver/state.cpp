#include "driver/state.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

int interactive = 0;
volatile unsigned char in_child = 0;
int devnull_fd = -1;
char tmpdir[sizeof tmpdir_template] = "/tmp/tolm-XXXXXX";
CText url_copy;
StatusFn show_status = show_status_stderr;

void show_status_stderr(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputc('\n', stderr);
}

void die(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputc('\n', stderr);
    exit(1);
}

void* alloc_or_die(size_t size) {
    void* p = malloc(size);
    if (!p) die("malloc: %s", strerror(errno));
    return p;
}

char* strdup_or_die(const char* text) {
    char* p = strdup(text);
    if (!p) die("strdup: %s", strerror(errno));
    return p;
}

void* resize_array_or_die(void* block, size_t count, size_t size) {
    if (count == 0) {
        free(block);
        return nullptr;
    }
    uint64_t bytes;
    if (__builtin_mul_overflow(static_cast<uint64_t>(count), static_cast<uint64_t>(size), &bytes) ||
        bytes > SIZE_MAX)
        die("realloc: overflow");
    void* p = realloc(block, bytes);
    if (!p) die("realloc: %s", strerror(errno));
    return p;
}

namespace {

// Until mkdtemp has filled it in, tmpdir is only the template, which may
// name somebody else's directory.
bool tmpdir_made = false;

// The directory is private to this process, so whatever is still in it is
// ours: a download cut short by a signal has not been remembered by any
// item yet, and must not keep the directory from going.
void empty_tmpdir() {
    if (!tmpdir_made) return;
    DIR* dir = opendir(tmpdir);
    if (!dir) return;
    int fd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            unlinkat(fd, entry->d_name, 0);
    }
    closedir(dir);
}

} // namespace

void out_of_memory() {
    die("malloc: %s", strerror(ENOMEM));
}

void make_tmpdir() {
    if (!mkdtemp(tmpdir)) die("mkdir: %s: %s", tmpdir, strerror(errno));
    tmpdir_made = true;
}

void remove_tmpdir() {
    if (in_child) return;
    empty_tmpdir();
    rmdir(tmpdir);
}
