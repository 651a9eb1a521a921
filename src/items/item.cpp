#include "items/item.h"

#include <cstring>
#include <unistd.h>
#include <utility>

#include "driver/process/alloc.h"
#include "driver/process/state.h"

namespace {

// True when path names something inside the private temporary directory.
bool in_tmpdir(const char* path) {
    // The directory's path followed by "/": a sibling such as
    // "/tmp/tolm-abc123.txt" that a user saved is not ours to remove.
    size_t n = strlen(tmpdir);
    return strncmp(path, tmpdir, n) == 0 && path[n] == '/';
}

} // namespace

// One per menu line: a field added must fit in the padding.
static_assert(sizeof(void*) != 8 || sizeof(Item) == 72, "Item grew");

ItemArray::ItemArray(uint64_t capacity)
    : items_(static_cast<Item*>(resize_array_or_die(nullptr, capacity, sizeof(Item)))) {}

ItemArray::ItemArray(ItemArray&& other) noexcept
    : items_(std::exchange(other.items_, nullptr)), size_(std::exchange(other.size_, 0)) {}

// What this held goes with other.
ItemArray& ItemArray::operator=(ItemArray&& other) noexcept {
    std::swap(items_, other.items_);
    std::swap(size_, other.size_);
    return *this;
}

ItemArray::~ItemArray() {
    for (uint64_t i = 0; i < size_; i++)
        items_[i].~Item();
    free(items_);
}

const char* request_text(const Item& item) {
    return effective_type(item) == '7' && item.extra ? item.extra.get() : item.selector;
}

bool has_saved_copy(const Item& item) {
    return item.extra && effective_type(item) != '7';
}

const char* link_url(const char* selector) {
    static constexpr char prefix[] = "URL:";
    constexpr size_t n = sizeof prefix - 1;
    return selector && strncmp(selector, prefix, n) == 0 ? selector + n : nullptr;
}

namespace {

// A page this large gives its memory back to the system once released.
constexpr uint64_t large_menu_items = 16384;

void release_tree(Item* item) {
    if (item->dir) {
        // Children first: their borrowed strings point into our raw.
        for (uint64_t i = 0; i < item->dir->count; i++)
            release_tree(&item->dir->items[i]);
        item->dir.reset();
    }
    if (!in_child && item->extra && in_tmpdir(item->extra.get())) unlink(item->extra.get());
    item->extra.reset();
    item->raw.reset();
}

} // namespace

void release_item(Item* item) {
    if (!item) return;
    bool large = item->dir && item->dir->count >= large_menu_items;
    release_tree(item);
    if (large) give_back_memory();
}

bool inside(const Item* item, const Item* tree) {
    if (!item || !tree->dir) return false;
    const Dir& dir = *tree->dir;
    for (uint64_t i = 0; i < dir.count; i++)
        if (item == &dir.items[i] || inside(item, &dir.items[i])) return true;
    return false;
}

bool in_menu_of(const Item& item, const Item& page) {
    if (!page.dir || page.dir->count == 0) return false;
    const Item* first = &page.dir->items[0];
    // Compared as addresses: only an item of the array lies between them.
    auto at = reinterpret_cast<uintptr_t>(&item);
    return at >= reinterpret_cast<uintptr_t>(first) &&
           at <= reinterpret_cast<uintptr_t>(&page.dir->items[page.dir->count - 1]);
}

const char* type_tag(int type) {
    switch (static_cast<unsigned char>(type)) {
    case '0':
        return "Txt+";
    case '1':
        return "Dir+";
    case '2':
        return "CSO|";
    case '3':
        return "Err|";
    case '4':
        return "Mac+";
    case '5':
        return "DOS+";
    case '6':
        return "UUE+";
    case '7':
        return "Ind+";
    case '8':
        return "Tln|";
    case '9':
        return "Bin+";
    case '+':
        return "Mir+";
    case 'I':
        return "Img+";
    case 'T':
        return "IBM|";
    case 'g':
        return "GIF+";
    case 'h':
        return "URL+";
    case 'i':
        return "   |";
    }
    if (static_cast<unsigned char>(type - '0') <= 'Z' - '0') return "!  |";
    return " ? +";
}
