// libFuzzer target: the URL argument, from the scheme check through the URL
// grammar to the root item.
//
// The grammar ends the process on a malformed URL, so inputs that it must
// refuse are recognised first by a separate reading of its three failure
// rules and skipped. If that reading and the parser ever disagree, the
// parser exits and libFuzzer reports the input as a crash ("fuzz target
// exited"): the disagreement is a finding, not noise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver/startup.h"
#include "items/item.h"
#include "transport/transport.h"

namespace {

void require(bool ok, const char* what, const char* url) {
    if (ok) return;
    fprintf(stderr, "url_fuzz: %s (URL \"%s\")\n", what, url);
    abort();
}

// Where the host begins, or nullptr for a scheme other than "gopher",
// which ends the program by design.
char* after_scheme(char* url) {
    char* sep = strstr(url, "://");
    if (!sep) return url;
    if (sep - url == 6 && memcmp(url, "gopher", 6) == 0) return sep + 3;
    return nullptr;
}

// False when rest has an empty host, an empty port or an unclosed "[".
bool well_formed(const char* rest) {
    const char* p = rest;
    bool bracket = *p == '[';
    if (bracket) p++;
    bool host_ends_at_once = *p == '\0' || *p == '/' || *p == (bracket ? ']' : ':');
    if (host_ends_at_once) return false;
    const char* last_colon = nullptr;
    for (; *p && *p != '/'; p++) {
        if (bracket && *p == ']')
            bracket = false;
        else if (!bracket && *p == ':')
            last_colon = p;
    }
    if (bracket) return false;
    return !last_colon || (last_colon[1] != '\0' && last_colon[1] != '/');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> url(new char[size + 1]);
    memcpy(url.get(), data, size);
    url[size] = '\0';
    // Kept for messages: the parser cuts url in place.
    std::unique_ptr<char[]> original(new char[size + 1]);
    memcpy(original.get(), url.get(), size + 1);
    const char* shown = original.get();

    char* rest = after_scheme(url.get());
    if (!rest) return 0;
    require(tcp_transport.strip_scheme(url.get()) == rest, "strip_scheme disagrees on the host",
            shown);
    if (!well_formed(rest)) return 0;

    std::unique_ptr<Item> item(make_root_item(rest));
    require(item != nullptr, "no root item", shown);
    require(item->host && *item->host, "empty host", shown);
    require(item->port && *item->port, "empty port", shown);
    require(!strchr(item->host, '/') && !strchr(item->port, '/'), "'/' in host or port", shown);
    require(!strchr(item->port, ':'), "':' in port", shown);
    require(item->type != '\0', "no type", shown);
    require(item->selector && item->display == item->selector, "display is not the selector",
            shown);
    require(item->parent == item.get(), "root is not its own parent", shown);
    require(item->mirror_type == 0 && !item->raw && !item->dir, "fields set that start absent",
            shown);
    if (item->extra) {
        require(item->type == '7', "query on an item that is not a search", shown);
        size_t len = strlen(item->selector);
        require(strncmp(item->extra.get(), item->selector, len) == 0 &&
                    item->extra.get()[len] == '\t',
                "search text is not selector, TAB, query", shown);
    }
    return 0;
}
