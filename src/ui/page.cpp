#include "ui/page.h"

#include <cstdio>
#include <cstring>

#include "items/item.h"
#include "ui/fitted.h"
#include "ui/status.h"
#include "ui/term.h"

Item*& displayed_page() {
    static Item* page = nullptr;
    return page;
}

namespace {

// The last menu row, which the arithmetic works on: zero on a terminal of
// one or two lines, which has at most one menu row.
uint64_t last_row() {
    return static_cast<uint64_t>(last_menu_row());
}

bool is_menu_type(char type) {
    return type == '+' || type == '1' || type == '7';
}

// Shown once by the next draw_page in place of the status bar.
const char* page_note = nullptr;

} // namespace

long long reach_percent(uint64_t count, uint64_t top, int lines) {
    uint64_t reach = top + static_cast<uint64_t>(lines > 1 ? lines - 1 : 0);
    return reach < count ? static_cast<long long>(reach * 100 / count) : 100;
}

namespace {

void format_place_of(const Item& item, const char* selector, char* buf, size_t size) {
    if (!item.host) {
        snprintf(buf, size, "%s", item.display ? item.display : "");
        return;
    }
    const char* host = item.host;
    if (!selector) selector = "";
    const char* port = item.port ? item.port : "";
    if (strcmp(port, default_gopher_port) == 0 || strcmp(port, "gopher") == 0)
        snprintf(buf, size, "%s/%c%s", host, item.type, selector);
    else
        snprintf(buf, size, "%s:%s/%c%s", host, port, item.type, selector);
}

} // namespace

void format_place(const Item& item, char* buf, size_t size) {
    format_place_of(item, item.selector, buf, size);
}

void format_request_place(const Item& item, char* buf, size_t size) {
    format_place_of(item, request_text(item), buf, size);
}

void note_on_next_draw(const char* text) {
    page_note = text;
}

namespace {

void draw_item_line(const Item& item) {
    snprintf(line_buf, line_buf_size, "%s %s", type_tag(item.type),
             item.display ? item.display : "");
    print_fitted(line_buf, static_cast<size_t>(term_columns()));
    fputc('\r', stdout);
}

// The status bar without the flush, for operations that flush once at
// their own end.
void write_status_bar(const Item& page) {
    uint64_t count = page.dir ? page.dir->count : 0;
    uint64_t top = page.dir ? page.dir->top : 0;
    int n = snprintf(line_buf, line_buf_size, "%3lld%%| ", reach_percent(count, top, term_lines()));
    format_place(page, line_buf + n, line_buf_size - static_cast<size_t>(n));
    put_status_text(line_buf);
}

void draw_status_bar(const Item& page) {
    write_status_bar(page);
    fflush(stdout);
}

} // namespace

void draw_page(Item* page) {
    if (!page || !is_menu_type(page->type)) return;
    displayed_page() = page;
    put_cap(Cap::clear);
    if (page_note)
        put_status_text(page_note);
    else
        write_status_bar(*page);
    page_note = nullptr;
    if (!page->dir) {
        fflush(stdout);
        return;
    }
    const Dir& dir = *page->dir;
    put_cap(Cap::save_pos);
    const auto rows = static_cast<uint64_t>(menu_rows());
    uint64_t end = dir.count < dir.top + rows ? dir.count : dir.top + rows;
    for (uint64_t i = dir.top; i < end; i++) {
        if (i != dir.top) put_cap(Cap::down);
        if (i == dir.cursor) {
            put_cap(Cap::save_pos);
            put_cap(Cap::standout_on);
            draw_item_line(dir.items[i]);
            put_cap(Cap::column, 0);
            put_cap(Cap::standout_off);
        } else {
            draw_item_line(dir.items[i]);
            put_cap(Cap::column, 0);
        }
    }
    put_cap(Cap::restore_pos);
    fflush(stdout);
}

Moved place_step(uint64_t count, uint64_t last, Direction direction, uint64_t* top,
                 uint64_t* cursor) {
    const bool forward = direction == Direction::forward;
    const uint64_t old = *cursor;
    if (forward ? old + 1 >= count : old == 0) return Moved::nothing;
    const uint64_t next = forward ? old + 1 : old - 1;
    *cursor = next;
    if (last == 0) {
        // No room to scroll one row within: the highlight stays on the one
        // menu row (if any).
        *top = next;
        return Moved::whole_page;
    }
    // The view follows once the highlight reaches half the menu rows, so
    // that the lines ahead of it stay in sight.
    const uint64_t half = last / 2;
    if (forward && next - *top >= half && *top + last + 1 < count) {
        ++*top;
        return Moved::scrolled_forward;
    }
    if (!forward && old - *top <= half && *top > 0) {
        --*top;
        return Moved::scrolled_backward;
    }
    return Moved::highlight;
}

void move_cursor(Item* page, Direction direction) {
    if (!page->dir) return;
    Dir& dir = *page->dir;
    const uint64_t old = dir.cursor;
    const uint64_t last = last_row();
    const Moved moved = place_step(dir.count, last, direction, &dir.top, &dir.cursor);
    if (moved == Moved::nothing) return;
    if (moved == Moved::whole_page) {
        draw_page(page);
        return;
    }
    draw_item_line(dir.items[old]);
    if (moved == Moved::scrolled_forward) {
        put_cap(Cap::save_pos);
        put_cap(Cap::move, static_cast<int>(last), 0);
        put_cap(Cap::scroll_fwd);
        draw_item_line(dir.items[dir.top + last]);
        put_cap(Cap::restore_pos);
    } else if (moved == Moved::scrolled_backward) {
        put_cap(Cap::save_pos);
        put_cap(Cap::move, 0, 0);
        put_cap(Cap::scroll_rev);
        draw_item_line(dir.items[dir.top]);
        put_cap(Cap::restore_pos);
    }
    put_cap(Cap::move, static_cast<int>(dir.cursor - dir.top), 0);
    put_cap(Cap::standout_on);
    draw_item_line(dir.items[dir.cursor]);
    put_cap(Cap::standout_off);
    draw_status_bar(*page);
}

bool place_jump(uint64_t count, uint64_t last, int64_t line, Jump jump, uint64_t* top,
                uint64_t* cursor) {
    uint64_t target = line > 0 ? static_cast<uint64_t>(line) : 0;
    if (target >= count - 1) target = count - 1;
    if (target == *cursor) return false;
    const bool exact = jump == Jump::exact;
    uint64_t old = *cursor, oldtop = *top;
    if (count - 1 <= last) {
        *cursor = target;
    } else if (line <= 0) {
        *top = 0;
        if (exact || old > last || oldtop == 0) *cursor = 0;
    } else if (target + last < count - 1) {
        *top = target;
        *cursor = target;
    } else {
        uint64_t endtop = count - 1 - last;
        *top = endtop;
        if (exact || oldtop == endtop)
            *cursor = target;
        else if (old < endtop)
            *cursor = endtop;
    }
    return true;
}

void jump_to(Item* page, int64_t line, Jump jump) {
    if (!page->dir) return;
    Dir& dir = *page->dir;
    if (!place_jump(dir.count, last_row(), line, jump, &dir.top, &dir.cursor)) return;
    draw_page(page);
}

uint64_t place_resize(uint64_t count, uint64_t last, uint64_t top, uint64_t cursor) {
    // A menu that fits is shown from its first item: a top kept from a
    // smaller window would leave the first items off screen for good, and
    // a jump could then put the cursor above top.
    if (count - 1 <= last) return 0;
    if (top > cursor) return cursor;
    if (cursor - top > last) return cursor - last;
    return top;
}

void keep_place(Dir& dir, uint64_t top, uint64_t cursor) {
    dir.cursor = cursor < dir.count ? cursor : dir.count - 1;
    const uint64_t last = last_row();
    // A shorter menu must not leave empty rows below a top kept from the
    // old one.
    if (dir.count - 1 > last && top > dir.count - 1 - last) top = dir.count - 1 - last;
    if (top > dir.cursor) top = dir.cursor;
    dir.top = place_resize(dir.count, last, top, dir.cursor);
}

void redraw_resized_page() {
    term_reload();
    Item* page = displayed_page();
    if (page && page->dir) {
        Dir& dir = *page->dir;
        dir.top = place_resize(dir.count, last_row(), dir.top, dir.cursor);
        draw_page(page);
    }
}
