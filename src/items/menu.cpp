#include "items/menu.h"

#include <cstring>

#include "driver/state.h"
#include "items/item.h"

namespace {

// The port field, from p to the line's end nl: it ends at a TAB or a CR,
// overwritten with NUL, or at nl. A few bytes, so a byte loop.
const char* port_field(char* p, const char* nl) {
    char* start = p;
    for (; p != nl; p++) {
        if (*p == '\t' || *p == '\r') {
            *p = '\0';
            break;
        }
    }
    return start;
}

} // namespace

int parse_menu(Item* item) {
    char* text = item->raw.get();
    // One pass: strchr stops at a newline or at the NUL that ends the text,
    // so the text's length is never needed.
    uint64_t count = 0;
    for (const char* p = text; (p = strchr(p, '\n')); p++)
        count++;
    if (count == 0) {
        show_status("Couldn't parse dir item");
        return 0;
    }

    auto dir = std::make_unique<Dir>();
    // One allocation for the whole array.
    dir->items = ItemArray(count);
    dir->count = count;

    char* line = text;
    // The type a '+' line mirrors: that of the nearest earlier line that is
    // not itself a '+' line, carried forward instead of searched for.
    char last_other = 0;
    bool have_other = false;
    for (uint64_t j = 0; j < count; j++) {
        Item& it = dir->items.add();
        // count newlines lie ahead: found before the NUL.
        char* nl = strchr(line, '\n');
        // The TABs after the type character, at most three, looked for in
        // a line that is in the cache now. A line is split into fields when
        // it holds three TABs, a TAB as its type character counting.
        char* tabs[3];
        int found = 0;
        int needed = *line == '\t' ? 2 : 3;
        if (line != nl) {
            for (char* p = line + 1; found < 3; p++) {
                p = static_cast<char*>(memchr(p, '\t', static_cast<size_t>(nl - p)));
                if (!p) break;
                tabs[found++] = p;
            }
        }
        if (found < needed) {
            it.display = line;
        } else {
            it.type = *line;
            it.display = line + 1;
            it.selector = tabs[0] + 1;
            it.host = tabs[1] + 1;
            it.port = found == 3 ? port_field(tabs[2] + 1, nl) : nl;
            for (int k = 0; k < found; k++)
                *tabs[k] = '\0';
        }
        *nl = '\0';
        line = nl + 1;
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
