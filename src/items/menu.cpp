#include "items/menu.h"

#include <cstring>
#include <new>

#include "items/item.h"

char* next_field(char** cursor, const char* separators) {
    char* start = *cursor;
    char* p = start;
    for (; *p; p++) {
        if (strchr(separators, *p)) {
            *p = '\0';
            *cursor = p + 1;
            return start;
        }
        if (*p == '\n') break;
    }
    *cursor = p;
    return start;
}

int parse_menu(Item* item) {
    char* text = item->raw.get();
    uint64_t count = 0;
    for (const char* p = text; *p; p++)
        count += (*p == '\n');
    if (count == 0) {
        show_status("Couldn't parse dir item");
        return 0;
    }

    auto dir = std::make_unique<Dir>();
    // One allocation for the whole array, checked like every array resize.
    uint64_t bytes;
    if (__builtin_mul_overflow(count, static_cast<uint64_t>(sizeof(Item)), &bytes))
        die("realloc: overflow");
    dir->items.reset(new (std::nothrow) Item[count]());
    if (!dir->items) die("realloc: %s", strerror(ENOMEM));
    dir->count = count;

    char* cursor = text;
    Item* items = dir->items.get();
    for (uint64_t j = 0; j < count; j++) {
        Item& it = items[j];
        char* line = cursor;
        int tabs = 0;
        char* end = line;
        for (; *end && *end != '\n'; end++)
            tabs += (*end == '\t');
        if (tabs <= 2) {
            *end = '\0';
            it.display = line;
            cursor = end + 1;
        } else {
            it.type = *cursor++;
            it.display = next_field(&cursor, "\t");
            it.selector = next_field(&cursor, "\t");
            it.host = next_field(&cursor, "\t");
            it.port = next_field(&cursor, "\t\r");
            while (*cursor != '\n')
                cursor++;
            *cursor++ = '\0';
        }
        if (it.type == '+') {
            for (uint64_t k = j; k-- > 0;) {
                if (items[k].type != '+') {
                    it.mirror_type = items[k].type;
                    break;
                }
            }
        }
    }
    item->dir = std::move(dir);
    return item->type;
}
