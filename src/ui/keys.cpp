#include "ui/keys.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "items/item.h"
#include "items/uri.h"
#include "ui/fitted.h"
#include "ui/keydecode.h"
#include "ui/page.h"
#include "ui/status.h"
#include "ui/term.h"

// Beside the key table in keydecode.cpp: a binding changed there is
// described here.
const char help_text[] = "Commands:\n"
                         "Down, 'j': move one line down.\n"
                         "'J': move to next link.\n"
                         "Up, 'k': move one line up.\n"
                         "'K': move to previous link.\n"
                         "PgDown, ' ': move one page down.\n"
                         "PgUp, 'b': move one page up.\n"
                         "Home, 'g': move to top of the page.\n"
                         "End, 'G': move to end of the page.\n"
                         "Right, 'l': view highlighted item.\n"
                         "Left, 'h': view previous item.\n"
                         "'/': search current page.\n"
                         "'n': search string forward.\n"
                         "'N': search string backward.\n"
                         "'U': print page URI.\n"
                         "'u': print item URI.\n"
                         "'Y': yank page URI to external program.\n"
                         "'y': yank item URI to external program.\n"
                         "'?': show this help.\n"
                         "^D, 'q': exit tolm.\n";

// Outside the item tree: never released before the end of the run, when
// its own copy of the text goes with it.
Item help_item = [] {
    Item item;
    item.type = '0';
    item.raw.reset(strdup(help_text));
    return item;
}();

namespace {

void (*yank_hook)(const Item&) = nullptr;

void yank(const Item& item) {
    if (yank_hook) yank_hook(item);
}

void jump_to_link(Item* page, int direction) {
    const Dir& dir = *page->dir;
    for (uint64_t i = dir.cursor; direction > 0 ? i + 1 < dir.count : i > 0;) {
        i = direction > 0 ? i + 1 : i - 1;
        if (dir.items[i].type != 'i') {
            jump_to(page, static_cast<int64_t>(i), true);
            return;
        }
    }
}

} // namespace

void set_yank_hook(void (*hook)(const Item&)) {
    yank_hook = hook;
}

void search_page(const char* pattern, Item* page, int direction) {
    if (!pattern || !page->dir) return;
    const Dir& dir = *page->dir;
    for (uint64_t i = dir.cursor; direction > 0 ? i + 1 < dir.count : i > 0;) {
        i = direction > 0 ? i + 1 : i - 1;
        const char* text = dir.items[i].display;
        if (text && strcasestr(text, pattern)) {
            jump_to(page, static_cast<int64_t>(i), true);
            return;
        }
    }
}

void show_uri(const Item& item) {
    if (item.type == 0 || item.type == 'i') return;
    put_cap(Cap::save_pos);
    put_cap(Cap::move, term_lines() - 1, 0);
    put_cap(Cap::standout_on);
    format_item_uri(item, line_buf, line_buf_size);
    end_status_text(print_fitted(line_buf, term_columns()));
    put_cap(Cap::restore_pos);
    fflush(stdout);
}

Item* browse_page(Item* page) {
    if (!page || !page->dir) return nullptr;
    const int64_t step = term_lines() > 3 ? term_lines() - 2 : 1;
    CText pattern;
    KeyDecoder keys;
    for (;;) {
        int c = read_key();
        // End of input or a read error on the terminal: nothing more will
        // come, so quitting is the only move that does not spin.
        if (c < 0) return nullptr;
        Dir& dir = *page->dir;
        Item& here = dir.items[dir.cursor];
        switch (keys.feed(static_cast<unsigned char>(c))) {
        case Command::none:
            break;
        case Command::quit:
            return nullptr;
        case Command::open:
            return &here;
        case Command::back:
            return page->parent;
        case Command::help:
            help_item.parent = page;
            return &help_item;
        case Command::down:
            move_cursor(page, 1);
            break;
        case Command::up:
            move_cursor(page, -1);
            break;
        case Command::page_down:
            jump_to(page, static_cast<int64_t>(dir.top) + step, false);
            break;
        case Command::page_up:
            jump_to(page, static_cast<int64_t>(dir.top) - step, false);
            break;
        case Command::home:
            jump_to(page, 0, false);
            break;
        case Command::end:
            jump_to(page, static_cast<int64_t>(dir.count), false);
            break;
        case Command::next_link:
            jump_to_link(page, 1);
            break;
        case Command::prev_link:
            jump_to_link(page, -1);
            break;
        case Command::search: {
            pattern.reset(prompt_line("Search for: "));
            if (pattern && !*pattern) pattern.reset();
            search_page(pattern.get(), page, 1);
            break;
        }
        case Command::search_next:
            search_page(pattern.get(), page, 1);
            break;
        case Command::search_prev:
            search_page(pattern.get(), page, -1);
            break;
        case Command::page_uri:
            show_uri(*page);
            break;
        case Command::item_uri:
            show_uri(here);
            break;
        case Command::yank_page:
            yank(*page);
            break;
        case Command::yank_item:
            yank(here);
            break;
        }
    }
}
