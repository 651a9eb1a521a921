#include "items/uri.h"

#include <cstdio>
#include <cstring>

#include "items/item.h"

namespace {

// Appends one piece while room is left; the length counts every piece in
// full, as snprintf does, so a cut URI stops at size - 1 characters.
struct UriWriter {
    char* buf;
    size_t size;
    int len = 0;

    bool full() const { return static_cast<size_t>(len) >= size - 1; }

    template <typename... Args> void piece(const char* format, Args... args) {
        if (full()) return;
        int n = snprintf(buf + len, size - len, format, args...);
        if (n > 0) len += n;
    }
};

} // namespace

int format_item_uri(const Item& item, char* buf, size_t size) {
    if (size == 0) return 0;
    buf[0] = '\0';
    // A menu line without fields has nothing to address.
    if (!item.selector || !item.host || !item.port) return 0;
    UriWriter w{buf, size};
    switch (item.type) {
    case 'h':
        w.piece("%s", strncmp(item.selector, "URL:", 4) == 0 ? item.selector + 4 : item.selector);
        break;
    case 'T':
        w.piece("tn3270://%s@%s:%s", item.selector, item.host, item.port);
        break;
    case '8':
        w.piece("telnet://%s@%s:%s", item.selector, item.host, item.port);
        break;
    default:
        w.piece("gopher://%s", item.host);
        if (strcmp(item.port, "70") != 0) w.piece(":%s", item.port);
        w.piece("/%c%s", item.type, item.selector);
        if (item.type == '7' && item.extra) {
            const char* tab = strchr(item.extra.get(), '\t');
            w.piece("%%09%s", tab ? tab + 1 : "");
        }
        break;
    }
    return w.len;
}
