#include "driver/process/alloc.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

#include "driver/process/state.h"

namespace {
bool lower_pad();
} // namespace

void* alloc_or_die(size_t size) {
    void* p = malloc(size);
    if (!p && lower_pad()) p = malloc(size);
    if (!p) die("malloc: %s", strerror(errno));
    return p;
}

char* strdup_or_die(const char* text) {
    char* p = strdup(text);
    if (!p && lower_pad()) p = strdup(text);
    if (!p) die("strdup: %s", strerror(errno));
    return p;
}

namespace {

#if defined(__GLIBC__) && defined(M_TOP_PAD) && defined(MADV_POPULATE_WRITE)
// A response grows by one 1024-byte block per read, and a menu's items
// come in one block after it. Both stay on the heap, where glibc's top pad
// maps the growth well ahead: past the mmap threshold every fourth growth
// would cost an mremap. Once a block passes a mebibyte, its pages are made
// present 256 KiB at a time (Linux 5.14 on; elsewhere the call fails and
// nothing changes): one call instead of 64 page faults. A growing block
// gets the stretch it has just entered, a block of final size its whole
// extent, so memory is made present at most a stretch ahead of its use.
// While a menu arrives, its growth also makes present what its items will
// need past its end, where they will be allocated (the lines so far times
// an item's size, never more than the text): those faults are then taken
// while the program waits for the server, not after its last byte. For
// that the heap must reach so far: its top pad is larger meanwhile. That
// asks the system for address space only, but where a limit refuses it,
// the allocation is made again with the usual pad.
// Huge pages would cut the faults further, but on a virtual machine that
// hands free memory back to its host a huge page of reclaimed memory costs
// more than the small pages it replaces.
constexpr size_t large_block = size_t{1} << 20;
constexpr size_t stretch = size_t{256} << 10;
constexpr int top_pad = 16 << 20;
constexpr int arrival_pad = 256 << 20;

bool heap_tuned() {
    static const bool tuned =
        mallopt(M_MMAP_THRESHOLD, 1 << 30) == 1 && mallopt(M_TOP_PAD, top_pad) == 1;
    return tuned;
}

// p moved down to a multiple of unit, a power of two.
char* align_down(char* p, size_t unit) {
    return p - (reinterpret_cast<uintptr_t>(p) & (unit - 1));
}

void populate(char* from, char* to) {
    // A hint: when refused, the pages fault in one by one as before.
    if (from < to) (void)madvise(from, static_cast<size_t>(to - from), MADV_POPULATE_WRITE);
}

bool ahead = false;
bool pad_raised = false;
// What an arriving menu's items will need: the lines seen so far, counted
// up to the end of its text's filled part, times the size of an item.
size_t item_size = 0;
size_t lines_seen = 0;
size_t counted = 0;

size_t count_lines(const char* from, const char* to) {
    size_t n = 0;
    while (from < to) {
        const void* nl = memchr(from, '\n', static_cast<size_t>(to - from));
        if (!nl) break;
        n++;
        from = static_cast<const char*>(nl) + 1;
    }
    return n;
}

void set_ahead(bool on) {
    ahead = on;
    if (on == pad_raised || !heap_tuned()) return;
    pad_raised = on;
    (void)mallopt(M_TOP_PAD, on ? arrival_pad : top_pad);
}

// Whether the pad was raised: it is not any more.
bool lower_pad() {
    if (!pad_raised) return false;
    pad_raised = false;
    (void)mallopt(M_TOP_PAD, top_pad);
    return true;
}

// Growth has made the heap present up to here. free() keeps pages, so a
// block allocated below it needs none made present again; where the heap
// was trimmed meanwhile, its pages fault in as they would anyway.
char* present_to = nullptr;

// block holds bytes, just allocated (grown false) or grown, its first
// filled bytes written.
void prefault_block(void* block, size_t bytes, size_t filled, bool grown) {
    if (!heap_tuned() || bytes < large_block) return;
    char* start = static_cast<char*>(block);
    char* end = start + bytes;
    if (!grown) {
        static const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        populate(std::max(align_down(start + page - 1, page), present_to), align_down(end, page));
        return;
    }
    char* want = end;
    if (ahead) {
        if (filled > counted) {
            lines_seen += count_lines(start + counted, start + filled);
            counted = filled;
        }
        // Never more than the text: long lines need few items.
        want += std::min(bytes, lines_seen * item_size);
    }
    if (want <= present_to) return;
    char* from = std::max(align_down(end - 1, stretch), present_to);
    // Up to the heap's end at most: what lies beyond is not mapped yet.
    char* to = std::min(align_down(want - 1, stretch) + stretch, static_cast<char*>(sbrk(0)));
    populate(from, to);
    present_to = std::max(present_to, to);
}

// glibc keeps freed memory for later use, below the heap's top and as its
// top pad: a released million-line page would stay resident until the end
// of the run. The next growth asks the system for its pad again.
void trim_heap() {
    (void)malloc_trim(0);
    // What lay above the heap's new end is no longer present: growth into
    // it again is made present again.
    present_to = std::min(present_to, static_cast<char*>(sbrk(0)));
}
#else
void trim_heap() {}
bool ahead = false;
size_t item_size = 0;
size_t lines_seen = 0;
size_t counted = 0;
void set_ahead(bool on) {
    ahead = on;
}
bool lower_pad() {
    return false;
}
bool heap_tuned() {
    return false;
}
void prefault_block(void*, size_t, size_t, bool) {}
#endif

} // namespace

MenuArriving::MenuArriving(size_t item_bytes) : before_(ahead) {
    item_size = item_bytes;
    lines_seen = 0;
    counted = 0;
    set_ahead(true);
}

MenuArriving::~MenuArriving() {
    set_ahead(before_);
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
    (void)heap_tuned();
    void* p = realloc(block, bytes);
    if (!p && lower_pad()) p = realloc(block, bytes);
    if (!p) die("realloc: %s", strerror(errno));
    // A block that grows one element at a time has its old part filled.
    prefault_block(p, bytes, bytes - size, block != nullptr);
    return p;
}

void give_back_memory() {
    trim_heap();
}

void out_of_memory() {
    // Returning has operator new try again.
    if (lower_pad()) return;
    die("malloc: %s", strerror(ENOMEM));
}
