#include "driver/commands.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "actions/bookmarks.h"
#include "actions/open.h"
#include "driver/holders.h"
#include "driver/process/alloc.h"
#include "driver/process/state.h"
#include "items/item.h"
#include "items/uri.h"
#include "ui/page.h"
#include "ui/status.h"

namespace {

// The pages made outside the root's tree.
enum class Kind { url, bookmarks, history };

// An item made outside the root's tree, with the text its strings point
// into.
struct Detached {
    CText text;
    Item item;
    Held parent{item.parent};
    Kind kind = Kind::url;
};

std::vector<std::unique_ptr<Detached>> detached;

// Their names, which their status bars show.
const char bookmarks_display[] = "bookmarks";
const char history_display[] = "history";

Detached* detached_of(Kind kind) {
    for (auto& d : detached)
        if (d->kind == kind) return d.get();
    return nullptr;
}

bool is_detached(const Item* item, Kind kind) {
    const Detached* d = detached_of(kind);
    return d && &d->item == item;
}

// The history's version the history page was made from: while it holds,
// entry i names the owner's page i from the newest, and no pointer to a
// page is kept here, where a release would not re-point it.
uint64_t history_made = 0;

// Whether going back from page, again and again, comes to target.
bool leads_back_to(const Item* page, const Item* target) {
    // Going back ends at the root, its own parent; a walker at half the
    // speed ends a loop of parents, should one ever form, all the same.
    const Item* slow = page;
    bool slow_moves = false;
    for (const Item* p = page; p != target; slow_moves = !slow_moves) {
        if (!p || p->parent == p) return false;
        p = p->parent;
        if (slow_moves) slow = slow->parent;
        if (p == slow) return false;
    }
    return true;
}

// A copy of text (maybe nullptr) at *at, which moves past it.
const char* copy_into(const char* text, char** at) {
    if (!text) return nullptr;
    const char* copy = *at;
    size_t n = strlen(text) + 1;
    memcpy(*at, text, n);
    *at += n;
    return copy;
}

// The history page's menu in *menu: an entry typed like each page, with
// copies of its strings (a page may go while the menu stays), newest
// first, each named as a bookmark of it would be; false, with nothing
// changed, when there is no page.
bool make_history_menu(Item* menu) {
    const std::vector<Item*>& pages = pages_shown();
    if (pages.empty()) return false;
    history_made = history_version();
    std::vector<std::string> names;
    names.reserve(pages.size());
    size_t size = 1;
    for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
        const Item* page = *it;
        names.push_back(display_or_uri(*page));
        size += names.back().size() + 1;
        for (const char* text : {page->selector, page->host, page->port})
            size += text ? strlen(text) + 1 : 0;
    }
    menu->raw.reset(static_cast<char*>(alloc_or_die(size)));
    char* at = menu->raw.get();
    *at = '\0';
    menu->dir = std::make_unique<Dir>();
    Dir& dir = *menu->dir;
    dir.items = ItemArray(pages.size());
    dir.count = pages.size();
    for (size_t i = 0; i < pages.size(); i++) {
        const Item* page = pages[pages.size() - 1 - i];
        Item& entry = dir.items.add();
        entry.type = page->type;
        entry.mirror_type = page->mirror_type;
        entry.display = copy_into(names[i].c_str(), &at);
        entry.selector = copy_into(page->selector, &at);
        entry.host = copy_into(page->host, &at);
        entry.port = copy_into(page->port, &at);
    }
    return true;
}

// Left with no page at all, the history page keeps its last menu.
bool remake_history_menu(Item* history) {
    Item fresh;
    if (!make_history_menu(&fresh)) return false;
    replace_menu(history, &fresh, history);
    return true;
}

} // namespace

Item* go_to_url(Item* page) {
    CText answer(prompt_line("Go to URL (^D cancel): "));
    if (!answer || !*answer) return nullptr;
    auto d = std::make_unique<Detached>();
    d->text = std::move(answer);
    int scheme_len = 0;
    char* rest = after_scheme(d->text.get(), &scheme_len);
    if (!rest) {
        show_status("Protocol not supported: %.*s", scheme_len, d->text.get());
        return nullptr;
    }
    if (!parse_url(rest, &d->item)) {
        show_status("Can't parse url");
        return nullptr;
    }
    d->item.parent = page;
    detached.push_back(std::move(d));
    return &detached.back()->item;
}

bool reload_page(Item* page) {
    if (is_history_page(page)) return remake_history_menu(page);
    if (is_bookmarks_page(page)) {
        Item fresh;
        if (!load_bookmarks(&fresh)) return false;
        replace_menu(page, &fresh, page);
        return true;
    }
    // A twin of the page that shares its borrowed strings: the page stays
    // whole until the new response is there.
    Item fresh;
    fresh.type = page->type;
    fresh.mirror_type = page->mirror_type;
    fresh.display = page->display;
    fresh.selector = page->selector;
    fresh.host = page->host;
    fresh.port = page->port;
    fresh.parent = page->parent;
    if (page->extra) fresh.extra.reset(strdup_or_die(page->extra.get()));
    if (!open_item(page, &fresh) || !fresh.dir) return false;
    replace_menu(page, &fresh, page);
    return true;
}

Item* bookmarks_page(Item* page) {
    // One bookmarks page for the run, read again each time it is asked
    // for: a copy a time would stay until the end of the run.
    if (Detached* d = detached_of(Kind::bookmarks)) {
        Item* marks = &d->item;
        Item fresh;
        if (!load_bookmarks(&fresh)) return nullptr;
        // Asked for on a page reached from it, the bookmarks page keeps its
        // parent: that page as its parent would leave no way back. Else
        // what pointed into the old menu goes back to where the page was
        // opened from, not to the page, which is about to be its child.
        const bool keeps_parent = leads_back_to(page, marks);
        replace_menu(marks, &fresh, keeps_parent ? marks : marks->parent);
        if (!keeps_parent) marks->parent = page;
        return marks;
    }
    auto d = std::make_unique<Detached>();
    if (!load_bookmarks(&d->item)) return nullptr;
    d->kind = Kind::bookmarks;
    d->item.type = '1';
    d->item.display = bookmarks_display;
    // No host: the page has no URI to show, yank or bookmark; the status
    // bar names it.
    d->item.selector = "";
    d->item.port = default_gopher_port;
    d->item.parent = page;
    detached.push_back(std::move(d));
    return &detached.back()->item;
}

bool is_bookmarks_page(const Item* item) {
    return is_detached(item, Kind::bookmarks);
}

Item* remove_highlighted_bookmark(Item* page) {
    if (!is_bookmarks_page(page) || !page->dir) return nullptr;
    if (!remove_bookmark(*page, page->dir->cursor)) return nullptr;
    Item fresh;
    if (load_bookmarks(&fresh)) {
        replace_menu(page, &fresh, page);
        draw_page(page);
        return nullptr;
    }
    // The last one went (said by the load): nothing is left to browse, nor
    // to come back to until the next bookmark.
    release_page(page, page->parent);
    return page->parent;
}

Item* history_page(Item* page) {
    Item fresh;
    if (!make_history_menu(&fresh)) return nullptr;
    if (Detached* d = detached_of(Kind::history)) {
        Item* history = &d->item;
        const bool keeps_parent = leads_back_to(page, history);
        replace_menu(history, &fresh, keeps_parent ? history : history->parent);
        if (!keeps_parent) history->parent = page;
        history->dir->top = history->dir->cursor = 0;
        return history;
    }
    auto d = std::make_unique<Detached>();
    d->kind = Kind::history;
    d->item.type = '1';
    d->item.display = history_display;
    // No host, like the bookmarks page: no URI of its own.
    d->item.selector = "";
    d->item.port = default_gopher_port;
    d->item.raw = std::move(fresh.raw);
    d->item.dir = std::move(fresh.dir);
    d->item.parent = page;
    detached.push_back(std::move(d));
    return &detached.back()->item;
}

bool is_history_page(const Item* item) {
    return is_detached(item, Kind::history);
}

void refresh_history_page() {
    Detached* d = detached_of(Kind::history);
    if (d && history_made != history_version()) (void)remake_history_menu(&d->item);
}

Item* page_named_by(const Item* item) {
    Detached* d = detached_of(Kind::history);
    if (!d || !d->item.dir || !inside(item, &d->item)) return nullptr;
    const std::vector<Item*>& pages = pages_shown();
    const auto entry = static_cast<size_t>(item - &d->item.dir->items[0]);
    if (history_made == history_version() && entry < pages.size())
        return pages[pages.size() - 1 - entry];
    // The history changed since the page was drawn: it is drawn again.
    refresh_history_page();
    return &d->item;
}

void release_detached_items() {
    for (auto& d : detached)
        release_item(&d->item);
    detached.clear();
}
