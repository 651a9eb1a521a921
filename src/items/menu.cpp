#include "items/menu.h"

#include <cstring>

#include "driver/state.h"
#include "items/item.h"

namespace {

// Cuts one field off the text at *cursor, ending at a character of
// separators (overwritten with NUL, cursor moved past it), at NUL, or
// before a newline (left in place). Returns the field's start.
char* next_field(char** cursor, const char* separators) {
    // Compared directly rather than through strchr: this runs once per byte
    // of every menu, and the sets in use have one or two characters.
    const char first = separators[0];
    const char second = first ? separators[1] : '\0';
    const char other = second ? second : first;
    char* start = *cursor;
    char* p = start;
    for (char c; (c = *p); p++) {
        if (c == first || c == other) {
            *p = '\0';
            *cursor = p + 1;
            return start;
        }
        if (c == '\n') break;
    }
    *cursor = p;
    return start;
}

// Whether the line [line, nl) holds at least three TABs.
bool has_fields(const char* line, const char* nl) {
    for (int tabs = 0; tabs < 3; tabs++) {
        line = static_cast<const char*>(memchr(line, '\t', static_cast<size_t>(nl - line)));
        if (!line) return false;
        line++;
    }
    return true;
}

// next_field(cursor, "\t") for a line known to end at nl and to hold no
// NUL: memchr finds the TAB many bytes at a time, which matters on menus
// of a million lines.
char* tab_field(char** cursor, char* nl) {
    char* start = *cursor;
    char* tab = static_cast<char*>(memchr(start, '\t', static_cast<size_t>(nl - start)));
    if (!tab) {
        *cursor = nl;
        return start;
    }
    *tab = '\0';
    *cursor = tab + 1;
    return start;
}

} // namespace

int parse_menu(Item* item) {
    char* text = item->raw.get();
    char* end = text + strlen(text);
    uint64_t count = 0;
    for (const char* p = text;
         (p = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)))); p++)
        count++;
    if (count == 0) {
        show_status("Couldn't parse dir item");
        return 0;
    }

    auto dir = std::make_unique<Dir>();
    // One allocation for the whole array.
    dir->items = ItemArray(count);
    dir->count = count;

    char* cursor = text;
    // The type a '+' line mirrors: that of the nearest earlier line that is
    // not itself a '+' line, carried forward instead of searched for.
    char last_other = 0;
    bool have_other = false;
    for (uint64_t j = 0; j < count; j++) {
        Item& it = dir->items.add();
        char* line = cursor;
        char* nl = static_cast<char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
        if (!has_fields(line, nl)) {
            *nl = '\0';
            it.display = line;
            cursor = nl + 1;
        } else {
            it.type = *cursor++;
            it.display = tab_field(&cursor, nl);
            it.selector = tab_field(&cursor, nl);
            it.host = tab_field(&cursor, nl);
            it.port = next_field(&cursor, "\t\r");
            *nl = '\0';
            cursor = nl + 1;
        }
        if (it.type == '+') {
            if (have_other) it.mirror_type = last_other;
        } else {
            last_other = it.type;
            have_other = true;
        }
    }
    item->dir = std::move(dir);
    return item->type;
}
