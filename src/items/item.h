// Gopher items and parsed menus, and who owns what.
// Results: answers are bools and borrowed pointers (nullptr for none);
// nothing here fails.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "driver/process/ctext.h"

struct Dir;

// The port of a gopher URL or item that names none.
inline constexpr char default_gopher_port[] = "70";

// Where the connection that fetched a page led, as far as a page may name
// an address: what it found there decides which addresses its menu lines
// reach without asking the user.
enum class Reach : unsigned char {
    none,     // not fetched from an address (the bookmarks page, help)
    loopback, // this machine: 127/8, ::1, and the unspecified 0/8 and ::
    local,    // a private or link-local network
    global,   // anywhere else
};

// One gopher item: a menu line, the item the URL names, or the help page.
// display, selector, host and port are borrowed: they point into the raw
// text of the page the item came from (or into url_copy for the root).
struct Item {
    char type = 0;        // NUL for a menu line that was not split into fields
    char mirror_type = 0; // for '+' items: type of the nearest earlier non-'+' item
    // Where raw came from; it sits in the padding after the two types, so
    // a menu of a million lines costs no more.
    Reach origin = Reach::none;
    const char* display = nullptr;
    const char* selector = nullptr;
    const char* host = nullptr;
    const char* port = nullptr;
    CText raw;                // the response body; nullptr until fetched
    CText extra;              // search request text, or the saved file's path
    std::unique_ptr<Dir> dir; // the parsed menu; nullptr until parsed
    Item* parent = nullptr;   // the page it was first opened from
};

// The items of one menu in a single block, each constructed in turn as its
// line is split: the block's pages are written once, and a menu of a
// million lines is not zeroed ahead of the split. Destroys what it holds.
class ItemArray {
  public:
    ItemArray() = default;
    // Room for capacity items, none yet; dies as resize_array_or_die does.
    explicit ItemArray(uint64_t capacity);
    ItemArray(ItemArray&& other) noexcept;
    ItemArray& operator=(ItemArray&& other) noexcept;
    ~ItemArray();

    // Constructs the next item (all fields empty), at most capacity of them.
    Item& add() { return *new (&items_[size_++]) Item(); }
    Item& operator[](uint64_t i) const { return items_[i]; }

  private:
    Item* items_ = nullptr;
    uint64_t size_ = 0;
};

// A parsed menu and the user's place in it.
struct Dir {
    ItemArray items; // never resized, so items keep their address
    uint64_t count = 0;
    uint64_t top = 0;
    uint64_t cursor = 0;
};

// The type that decides what is done with the item.
inline char effective_type(const Item& item) {
    return item.mirror_type ? item.mirror_type : item.type;
}

// The URL a link item's selector holds after its "URL:" prefix (pointing
// into selector), or nullptr when selector (which may be nullptr) has no
// such prefix.
const char* link_url(const char* selector);

// What is sent to the item's server: for a search with its query, the
// selector, a TAB and the query (extra); otherwise the selector.
const char* request_text(const Item& item);

// Whether extra names the item's saved copy, a file a download may read
// instead of the server: a search's extra is its request instead.
[[nodiscard]] bool has_saved_copy(const Item& item);

// Whether item is one of the lines of page's menu (not merely opened from
// it, like a URL typed there).
[[nodiscard]] bool in_menu_of(const Item& item, const Item& page);

// Frees raw, extra and dir (recursively) and sets them to nullptr; unlinks
// extra when it names a file inside the temporary directory, except in a
// forked child. The record itself stays. nullptr is ignored.
void release_item(Item* item);

// Whether item lies in the tree below tree (tree itself excluded); false
// for nullptr.
[[nodiscard]] bool inside(const Item* item, const Item* tree);

// Four-character label of an item type, e.g. "Txt+", "Dir+", "   |": a
// constant text, never freed.
const char* type_tag(int type);
