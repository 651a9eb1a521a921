#include "items/uri.h"

#include <cstring>

#include "items/item.h"

void append_uri_text(std::string& out, const char* text) {
    static const char hex[] = "0123456789ABCDEF";
    for (const char* p = text; *p; p++) {
        auto c = static_cast<unsigned char>(*p);
        // Only the control bytes: tolm's own URL grammar decodes no escape,
        // so encoding more would break pasting a URI back into tolm.
        if (c < 0x20 || c == 0x7f) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xf];
        } else {
            out += static_cast<char>(c);
        }
    }
}

std::string login_uri(const Item& item) {
    std::string uri = effective_type(item) == 'T' ? "tn3270://" : "telnet://";
    if (item.selector) {
        append_uri_text(uri, item.selector);
        uri += '@';
    }
    append_uri_text(uri, item.host);
    uri += ':';
    append_uri_text(uri, item.port);
    return uri;
}

namespace {

const char empty_selector[] = "";

// The query marker of a search URL: the first "%09" becomes a TAB, or else
// the first TAB counts. Returns the marker's position, or nullptr.
char* mark_query(char* selector) {
    if (char* pct = strstr(selector, "%09")) {
        *pct = '\t';
        memmove(pct + 1, pct + 3, strlen(pct + 3) + 1);
        return pct;
    }
    return strchr(selector, '\t');
}

} // namespace

// The selector itself may hold a TAB (a URL whose "%09" came after a
// literal TAB), so the first TAB is only the fallback.
const char* search_query(const Item& item) {
    const char* extra = item.extra.get();
    if (!extra) return "";
    size_t n = strlen(item.selector);
    if (strncmp(extra, item.selector, n) == 0 && extra[n] == '\t') return extra + n + 1;
    const char* tab = strchr(extra, '\t');
    return tab ? tab + 1 : "";
}

namespace {

std::string text(const char* prefix, const char* field) {
    std::string out = prefix;
    append_uri_text(out, field);
    return out;
}

// Hands the URI to piece() one piece at a time, each already encoded.
template <typename Piece> void write_uri(const Item& item, Piece piece) {
    switch (item.type) {
    case 'h': {
        const char* url = link_url(item.selector);
        piece(text("", url ? url : item.selector));
        break;
    }
    case 'T':
    case '8':
        piece(login_uri(item));
        break;
    default: {
        piece(text("gopher://", item.host));
        if (strcmp(item.port, default_gopher_port) != 0) piece(text(":", item.port));
        const char type[2] = {item.type, '\0'};
        piece(text("/", type) + text("", item.selector));
        if (item.type == '7' && item.extra) piece(text("%09", search_query(item)));
        break;
    }
    }
}

bool has_fields(const Item& item) {
    return item.selector && item.host && item.port;
}

} // namespace

int format_item_uri(const Item& item, char* buf, size_t size) {
    if (size == 0) return 0;
    buf[0] = '\0';
    // A menu line without fields has nothing to address.
    if (!has_fields(item)) return 0;
    // Each piece is cut to the room left; once the buffer is full no
    // further piece is printed or counted, as with one snprintf a piece.
    size_t len = 0;
    write_uri(item, [&](const std::string& p) {
        if (len >= size - 1) return;
        size_t room = size - 1 - len;
        size_t n = p.size() < room ? p.size() : room;
        memcpy(buf + len, p.data(), n);
        buf[len + n] = '\0';
        len += p.size();
    });
    return static_cast<int>(len);
}

std::string item_uri(const Item& item) {
    std::string uri;
    if (has_fields(item)) write_uri(item, [&](const std::string& p) { uri += p; });
    return uri;
}

std::string display_or_uri(const Item& item) {
    const bool own = item.display && *item.display && item.display != item.selector;
    return own ? item.display : item_uri(item);
}

char* after_scheme(char* url, int* scheme_len) {
    char* sep = strstr(url, "://");
    if (!sep) return url;
    *scheme_len = static_cast<int>(sep - url);
    if (*scheme_len == 6 && strncmp(url, "gopher", 6) == 0) return sep + 3;
    return nullptr;
}

bool parse_url(char* rest, Item* item) {
    char* host = rest;
    bool bracket = false;
    if (*host == '[') {
        host++;
        bracket = true;
    }
    char* port = nullptr;
    char* path = nullptr;
    for (char* p = host;; p++) {
        if (*p == '\0') break;
        if (*p == '/') {
            *p = '\0';
            path = p + 1;
            break;
        }
        if (*p == ':' && !bracket) {
            *p = '\0';
            port = p + 1;
        } else if (*p == ']' && bracket) {
            *p = '\0';
            bracket = false;
        }
    }
    if (!*host || (port && !*port) || bracket) return false;

    char type = '1';
    char* selector = const_cast<char*>(empty_selector);
    if (path && *path) {
        type = *path;
        selector = path + 1;
    }
    CText extra;
    if (type == '7') {
        if (char* tab = mark_query(selector)) {
            // Without a copy the query is dropped: nothing to report.
            extra.reset(strdup(selector));
            *tab = '\0';
        }
    }
    item->type = type;
    item->selector = selector;
    item->display = selector;
    item->host = host;
    item->port = port ? port : default_gopher_port;
    item->extra = std::move(extra);
    item->parent = item;
    return true;
}
