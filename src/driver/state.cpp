#include "driver/state.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "items/item.h"
#include "ui/term.h"

int interactive = 0;
volatile unsigned char in_child = 0;
int devnull_fd = -1;
char tmpdir[17] = "/tmp/tolm-XXXXXX";
std::unique_ptr<Item> root_item;
CText url_copy;
StatusFn show_status = show_status_stderr;

void FreeDeleter::operator()(void* p) const noexcept {
    free(p);
}

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

void exit_cleanup() {
    release_item(root_item.get());
    if (!in_child) rmdir(tmpdir);
    root_item.reset();
    url_copy.reset();
    if (interactive) term_restore();
}
