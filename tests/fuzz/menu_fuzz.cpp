// libFuzzer target: the menu parser on arbitrary server responses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/process/state.h"
#include "items/item.h"
#include "items/menu.h"

namespace {

int status_messages = 0;

void count_status(const char*, ...) {
    status_messages++;
}

void require(bool ok, const char* what, uint64_t line) {
    if (ok) return;
    fprintf(stderr, "menu_fuzz: %s (item %llu)\n", what, static_cast<unsigned long long>(line));
    abort();
}

// A borrowed string must end inside the response: the parser cuts in place.
bool inside(const char* s, const char* begin, const char* end) {
    return s >= begin && s <= end && s + strlen(s) <= end;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    show_status = count_status;
    status_messages = 0;

    char* raw = static_cast<char*>(malloc(size + 1));
    if (!raw) return 0;
    memcpy(raw, data, size);
    raw[size] = '\0';
    const char* end = raw + strlen(raw);
    auto newlines = static_cast<uint64_t>(std::count(static_cast<const char*>(raw), end, '\n'));

    Item page;
    page.type = '1';
    page.raw.reset(raw);
    int result = parse_menu(&page);

    if (newlines == 0) {
        require(result == 0 && !page.dir, "a response without a line was parsed", 0);
        require(status_messages == 1, "the parse failure was not reported once", 0);
        release_item(&page);
        return 0;
    }
    require(result == '1', "result is not the page's type", 0);
    require(status_messages == 0, "a message for a menu that parsed", 0);
    require(page.dir && page.dir->count == newlines, "one item per complete line", 0);
    require(page.dir->top == 0 && page.dir->cursor == 0, "view does not start at the top", 0);

    for (uint64_t j = 0; j < page.dir->count; j++) {
        const Item& it = page.dir->items[j];
        require(it.display != nullptr, "no display text", j);
        require(inside(it.display, raw, end), "display outside the response", j);
        require(!strchr(it.display, '\n'), "newline in display", j);
        require(!it.raw && !it.extra && !it.dir && !it.parent, "owned fields set", j);
        require(it.mirror_type == 0 || it.type == '+', "mirror type on a non-mirror item", j);
        if (it.type == '\0') {
            require(!it.selector && !it.host && !it.port, "fields on a line without fields", j);
            require(std::count(it.display, it.display + strlen(it.display), '\t') <= 2,
                    "a line with three TABs was not split", j);
            continue;
        }
        require(it.selector && it.host && it.port, "a field is missing", j);
        for (const char* field : {it.selector, it.host, it.port}) {
            require(inside(field, raw, end), "field outside the response", j);
            require(!strchr(field, '\n'), "newline in a field", j);
        }
        for (const char* field : {it.display, it.selector, it.host, it.port})
            require(!strchr(field, '\t'), "TAB inside a field", j);
        require(!strchr(it.port, '\r'), "carriage return in port", j);
    }
    release_item(&page);
    return 0;
}
