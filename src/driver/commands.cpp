#include "driver/commands.h"

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

// An item made outside the root's tree, with the text its strings point
// into.
struct Detached {
    CText text;
    Item item;
    Held parent{item.parent};
    bool bookmarks = false;
};

std::vector<std::unique_ptr<Detached>> detached;

const char bookmarks_display[] = "Bookmarks";

Detached* bookmarks_detached() {
    for (auto& d : detached)
        if (d->bookmarks) return d.get();
    return nullptr;
}

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
    // A search page is fetched with its query, as the search step does.
    if (effective_type(*page) == '7' && fresh.extra) fresh.selector = fresh.extra.get();
    if (!open_item(page, &fresh) || !fresh.dir) return false;
    replace_menu(page, &fresh, page);
    return true;
}

Item* bookmarks_page(Item* page) {
    // One bookmarks page for the run, read again each time it is asked
    // for: a copy a time would stay until the end of the run.
    if (Detached* d = bookmarks_detached()) {
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
    d->bookmarks = true;
    d->text.reset(strdup_or_die(bookmarks_path().c_str()));
    d->item.type = '1';
    d->item.display = bookmarks_display;
    // No host: the page has no URI to show, yank or bookmark; the status
    // bar names the file.
    d->item.selector = d->text.get();
    d->item.port = default_gopher_port;
    d->item.parent = page;
    detached.push_back(std::move(d));
    return &detached.back()->item;
}

bool is_bookmarks_page(const Item* item) {
    for (const auto& d : detached)
        if (&d->item == item) return d->bookmarks;
    return false;
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
    // The last one went (said by the load): nothing is left to browse.
    release_menu(page, page->parent);
    return page->parent;
}

void release_detached_items() {
    for (auto& d : detached)
        release_item(&d->item);
    detached.clear();
}
