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
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

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

namespace {

#if defined(__GLIBC__) && defined(M_TOP_PAD) && defined(MADV_HUGEPAGE)
// A response grows by one 1024-byte block per read, and a menu's items
// come in one block after it. Both stay on the heap, where glibc's top pad
// maps the growth well ahead: past the mmap threshold every fourth growth
// would cost an mremap. Stretches of 2 MiB are advised to take huge pages
// before anything touches them, where the system allows: one page fault
// per 2 MiB instead of 512. A growing block is advised a stretch ahead; a
// block of final size only where it covers whole stretches, so that no
// huge page reaches past it. 2 MiB is the huge page of x86-64, and of
// arm64 with 4 KiB pages; where it is not, the advice changes nothing.
constexpr size_t huge_page = size_t{2} << 20;
constexpr int top_pad = 16 << 20;

bool heap_tuned() {
    static const bool tuned =
        mallopt(M_MMAP_THRESHOLD, 1 << 30) == 1 && mallopt(M_TOP_PAD, top_pad) == 1;
    return tuned;
}

// The start of the stretch that holds p.
char* stretch_of(char* p) {
    return p - (reinterpret_cast<uintptr_t>(p) & (huge_page - 1));
}

void advise_huge_pages(char* from, char* to) {
    // A hint: when refused, the pages are small as before.
    if (from < to) (void)madvise(from, static_cast<size_t>(to - from), MADV_HUGEPAGE);
}

// block holds bytes, just allocated (grown false) or grown.
void advise_block(void* block, size_t bytes, bool grown) {
    if (!heap_tuned() || bytes < huge_page) return;
    char* start = static_cast<char*>(block);
    char* end = start + bytes;
    if (!grown) {
        advise_huge_pages(stretch_of(start + huge_page - 1), stretch_of(end));
        return;
    }
    // The stretch after the one the block ends in: the allocator writes
    // its header just past the block, so a growth touches a stretch before
    // any advice given after it. Advice holds only for what is mapped: a
    // stretch beyond the heap's end waits until the heap has grown.
    static char* advised = nullptr;
    char* next = stretch_of(end - 1) + huge_page;
    if (next == advised || next + huge_page > static_cast<char*>(sbrk(0))) return;
    advised = next;
    advise_huge_pages(next, next + huge_page);
}
#else
bool heap_tuned() {
    return false;
}
void advise_block(void*, size_t, bool) {}
#endif

} // namespace

void* resize_array_or_die(void* block, size_t count, size_t size) {
    if (count == 0) {
        free(block);
        return nullptr;
    }
    uint64_t bytes;
    if (__builtin_mul_overflow(static_cast<uint64_t>(count), static_cast<uint64_t>(size), &bytes) ||
        bytes > SIZE_MAX)
        die("realloc: overflow");
    (void)heap_tuned();
    void* p = realloc(block, bytes);
    if (!p) die("realloc: %s", strerror(errno));
    advise_block(p, bytes, block != nullptr);
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
