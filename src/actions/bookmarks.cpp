#include "actions/bookmarks.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "actions/bookmarkfile.h"
#include "driver/process/alloc.h"
#include "driver/process/state.h"
#include "items/item.h"
#include "items/menu.h"
#include "items/uri.h"

namespace {

bool has_line_break_or_tab(const char* text) {
    return strpbrk(text, "\t\r\n") != nullptr;
}

bool is_control(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

bool same(const char* a, const char* b) {
    return (!a && !b) || (a && b && strcmp(a, b) == 0);
}

bool same_item(const Item& a, const Item& b) {
    return a.type == b.type && same(a.selector, b.selector) && same(a.host, b.host) &&
           same(a.port, b.port);
}

// Where the lines of the visible part end: after its last newline. What
// follows is no line (text without a line end, or the line a NUL cut).
size_t lines_end(const char* text, size_t visible) {
    while (visible > 0 && text[visible - 1] != '\n')
        visible--;
    return visible;
}

// The menu the first size bytes of text make, in *menu (no dir when they
// hold no line).
void parse_copy(const char* text, size_t size, Item* menu) {
    if (!memchr(text, '\n', size)) return;
    char* copy = static_cast<char*>(alloc_or_die(size + 1));
    memcpy(copy, text, size);
    copy[size] = '\0';
    menu->raw.reset(copy);
    // There is a newline, so it parses.
    (void)parse_menu(menu);
}

// The offset of line index in text, whose visible part holds more lines.
size_t line_offset(const char* text, size_t index) {
    size_t at = 0;
    for (size_t i = 0; i < index; i++)
        at = static_cast<size_t>(strchr(text + at, '\n') - text) + 1;
    return at;
}

// The display a bookmark is stored with: shown on the bookmarks page and
// so free of control characters, whatever a server put in it. An item
// made from a URL has its selector as its display: its URI says more.
std::string stored_display(const Item& item) {
    std::string display = display_or_uri(item);
    for (char& c : display)
        if (is_control(c)) c = ' ';
    return display;
}

// The bookmarks file to change, its lock taken, in *target; false after
// reporting.
bool prepare_bookmarks_change(FileLock* lock, std::string* target) {
    const std::string path = bookmarks_path();
    if (path.empty()) {
        show_status("No place for bookmarks: set XDG_DATA_HOME or HOME");
        return false;
    }
    return prepare_change(path, lock, target);
}

} // namespace

std::string bookmarks_path() {
    const char* data = getenv("XDG_DATA_HOME");
    if (data && *data == '/') return std::string(data) + "/tolm/bookmarks";
    const char* home = getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/share/tolm/bookmarks";
    return "";
}

std::string bookmark_line(const Item& item) {
    // A '+' line stands for the item it mirrors: alone in the bookmarks it
    // must open as that, not as a download.
    const char type = effective_type(item);
    if (!type || type == 'i' || !item.selector || !item.host || !item.port) return "";
    if (has_line_break_or_tab(item.selector) || has_line_break_or_tab(item.host) ||
        has_line_break_or_tab(item.port) || strchr("\t\r\n", type))
        return "";
    std::string line(1, type);
    line += stored_display(item);
    line += '\t';
    line += item.selector;
    line += '\t';
    line += item.host;
    line += '\t';
    line += item.port;
    line += "\r\n";
    return line;
}

void add_bookmark(const Item& item) {
    const std::string line = bookmark_line(item);
    if (line.empty()) {
        show_status("Can't bookmark this item");
        return;
    }
    // The check for the same line and the change that follows it are one
    // step for any other run of tolm.
    FileLock lock;
    std::string target;
    if (!prepare_bookmarks_change(&lock, &target)) return;
    CText text;
    size_t size = 0;
    FileRead read = read_bookmarks_file(target, &text, &size);
    if (read == FileRead::failed) return;

    Item mine;
    parse_copy(line.data(), line.size(), &mine);
    size_t visible = read == FileRead::ok ? strnlen(text.get(), size) : 0;
    Item menu;
    if (visible > 0) parse_copy(text.get(), visible, &menu);
    for (uint64_t i = 0; menu.dir && i < menu.dir->count; i++) {
        if (same_item(menu.dir->items[i], mine.dir->items[0])) {
            lock.release();
            show_status("Already in the bookmarks");
            return;
        }
    }
    bool written = false;
    if (visible < size) {
        // Appended after a NUL the line would never be shown: it goes
        // after the last line before the NUL, and the rest stays as it is.
        size_t end = lines_end(text.get(), visible);
        std::string contents(text.get(), end);
        contents += line;
        contents.append(text.get() + end, size - end);
        written = replace_bookmarks_file(target, contents);
    } else {
        // A hand-edited file may lack its last line end: the new line must
        // not run into that one.
        bool unended = size > 0 && text.get()[size - 1] != '\n';
        written = append_to_bookmarks_file(target, unended ? "\r\n" + line : line);
    }
    lock.release();
    if (written) show_status("Bookmarked \"%s\"", stored_display(item).c_str());
}

bool load_bookmarks(Item* page) {
    const std::string path = bookmarks_path();
    CText text;
    size_t size = 0;
    FileRead read =
        path.empty() ? FileRead::missing : read_bookmarks_file(follow_links(path), &text, &size);
    if (read == FileRead::failed) return false;
    if (read == FileRead::missing || !memchr(text.get(), '\n', strnlen(text.get(), size))) {
        show_status("No bookmarks yet: 'a' adds the highlighted item, 'm' the page");
        return false;
    }
    release_item(page);
    page->raw = std::move(text);
    // The parser's result is the page's type, which the caller may not
    // have set yet: whether a menu was built is what counts.
    (void)parse_menu(page);
    return page->dir != nullptr;
}

bool remove_bookmark(const Item& page, size_t index) {
    if (!page.dir || index >= page.dir->count) return false;
    FileLock lock;
    std::string target;
    if (!prepare_bookmarks_change(&lock, &target)) return false;
    CText text;
    size_t size = 0;
    FileRead read = read_bookmarks_file(target, &text, &size);
    if (read == FileRead::missing) {
        errno = ENOENT;
        report_read_failure(target);
    }
    if (read != FileRead::ok) return false;

    // The line to remove is still the one shown when every line up to it
    // is: lines added since (at the end) do not matter.
    Item now;
    parse_copy(text.get(), strnlen(text.get(), size), &now);
    bool unchanged = now.dir && index < now.dir->count;
    for (size_t i = 0; unchanged && i <= index; i++) {
        const Item& shown = page.dir->items[i];
        const Item& there = now.dir->items[i];
        unchanged = same_item(there, shown) && same(there.display, shown.display);
    }
    if (!unchanged) {
        lock.release();
        show_status("The bookmarks file changed meanwhile: nothing removed");
        return false;
    }
    // Whatever follows the lines (text after a NUL, a last line without
    // its end) is kept as it is.
    size_t start = line_offset(text.get(), index);
    size_t end = line_offset(text.get() + start, 1) + start;
    std::string rest(text.get(), start);
    rest.append(text.get() + end, size - end);
    return replace_bookmarks_file(target, rest);
}
