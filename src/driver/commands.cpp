#include "driver/commands.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "actions/bookmarks.h"
#include "actions/open.h"
#include "driver/process/alloc.h"
#include "driver/process/state.h"
#include "items/item.h"
#include "items/uri.h"
#include "ui/keys.h"
#include "ui/page.h"
#include "ui/status.h"
#include "ui/term.h"

namespace {

// An item made outside the root's tree, with the text its strings point
// into.
struct Detached {
    CText text;
    Item item;
    bool bookmarks = false;
};

std::vector<std::unique_ptr<Detached>> detached;

// The bookmarks page's menu before its last reload, when the page the
// reload was asked on lay in it: the navigation still holds that page (as
// the one it came from) until the bookmarks page is open. Released by the
// next bookmarks command, when nothing holds it any more.
Item retired_bookmarks;

const char bookmarks_display[] = "Bookmarks";

// Items outside the tree (and the help page) keep a parent that a release
// may free: they go back to page instead.
void reparent_detached(const Item* released, Item* page) {
    for (auto& d : detached)
        if (inside(d->item.parent, released)) d->item.parent = page;
    if (inside(help_item.parent, released)) help_item.parent = page;
}

// Before tree's menu is released: what points into it from outside (the
// items owned here, the help page, the page last drawn) goes to heir.
void let_go_of(const Item* tree, Item* heir) {
    reparent_detached(tree, heir);
    forget_displayed_inside(tree, heir);
}

// The view after the page's menu was replaced: the highlight on the same
// line number while it exists, the view placed as after a resize.
void keep_place(Dir& dir, uint64_t top, uint64_t cursor) {
    dir.cursor = cursor < dir.count ? cursor : dir.count - 1;
    int lines = term_lines();
    uint64_t last = static_cast<uint64_t>(lines > 2 ? lines - 2 : 0);
    // A shorter menu must not leave empty rows below a top kept from the
    // old one.
    if (dir.count - 1 > last && top > dir.count - 1 - last) top = dir.count - 1 - last;
    if (top > dir.cursor) top = dir.cursor;
    dir.top = place_resize(dir.count, last, top, dir.cursor);
}

// Moves a freshly fetched menu into page, releasing what page held, or
// moving it into keep when given.
void replace_menu(Item* page, Item* fresh, Item* keep = nullptr) {
    uint64_t top = page->dir ? page->dir->top : 0;
    uint64_t cursor = page->dir ? page->dir->cursor : 0;
    let_go_of(page, page);
    CText extra = std::move(fresh->extra);
    if (keep) {
        keep->raw = std::move(page->raw);
        keep->dir = std::move(page->dir);
    }
    release_item(page);
    page->raw = std::move(fresh->raw);
    page->dir = std::move(fresh->dir);
    page->extra = std::move(extra);
    keep_place(*page->dir, top, cursor);
}

void release_retired_bookmarks(Item* page) {
    if (!retired_bookmarks.dir) return;
    let_go_of(&retired_bookmarks, page);
    release_item(&retired_bookmarks);
}

Detached* bookmarks_detached() {
    for (auto& d : detached)
        if (d->bookmarks) return d.get();
    return nullptr;
}

} // namespace

void release_results(Item* page) {
    let_go_of(page, page);
    release_item(page);
}

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
        release_retired_bookmarks(page);
        replace_menu(page, &fresh);
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
    replace_menu(page, &fresh);
    return true;
}

Item* bookmarks_page(Item* page) {
    // One bookmarks page for the run, read again each time it is asked
    // for: a copy a time would stay until the end of the run.
    if (Detached* d = bookmarks_detached()) {
        Item* marks = &d->item;
        Item fresh;
        if (!load_bookmarks(&fresh)) return nullptr;
        release_retired_bookmarks(marks);
        if (page == marks || inside(page, marks)) {
            // Back up to the bookmarks page, which keeps the parent it has:
            // a page in its own menu as its parent would leave no way back.
            replace_menu(marks, &fresh, page == marks ? nullptr : &retired_bookmarks);
            return marks;
        }
        // What was opened from the old menu goes back to where the page
        // was opened from, not to the page, which is about to be its child.
        reparent_detached(marks, marks->parent);
        marks->parent = page;
        replace_menu(marks, &fresh);
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
    release_retired_bookmarks(page);
    if (!remove_bookmark(*page, page->dir->cursor)) return nullptr;
    Item fresh;
    if (load_bookmarks(&fresh)) {
        replace_menu(page, &fresh);
        draw_page(page);
        return nullptr;
    }
    // The last one went (said by the load): nothing is left to browse.
    let_go_of(page, page->parent);
    release_item(page);
    return page->parent;
}

void release_detached_items() {
    release_item(&retired_bookmarks);
    for (auto& d : detached)
        release_item(&d->item);
    detached.clear();
}
