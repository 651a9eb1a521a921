// The URI of an item as shown on the status row and yanked.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "items/item.h"
#include "items/uri.h"

namespace {

Item make_item(char type, const char* host, const char* port, const char* selector,
               const char* extra = nullptr) {
    Item item;
    item.type = type;
    item.host = host;
    item.port = port;
    item.selector = selector;
    item.display = selector;
    if (extra) item.extra.reset(strdup(extra));
    return item;
}

std::string uri_of(const Item& item, int* length = nullptr) {
    char buf[256];
    memset(buf, 'X', sizeof buf);
    int n = format_item_uri(item, buf, sizeof buf);
    if (length) *length = n;
    return buf;
}

TEST(UriTest, FormsByType) {
    const struct {
        char type;
        const char* host;
        const char* port;
        const char* selector;
        const char* extra;
        const char* uri;
    } cases[] = {
        {'1', "srv", "70", "/docs", nullptr, "gopher://srv/1/docs"},
        {'1', "srv", "71", "/docs", nullptr, "gopher://srv:71/1/docs"},
        {'1', "srv", "070", "/docs", nullptr, "gopher://srv:070/1/docs"},
        {'0', "srv", "gopher", "", nullptr, "gopher://srv:gopher/0"},
        {'7', "srv", "70", "/find", "/find\tcats", "gopher://srv/7/find%09cats"},
        {'7', "srv", "70", "/find", nullptr, "gopher://srv/7/find"},
        {'7', "srv", "70", "/find", "/find\ta%09b", "gopher://srv/7/find%09a%09b"},
        {'7', "srv", "70", "/find", "/find\t", "gopher://srv/7/find%09"},
        // extra on other types is a saved file's path, never a query.
        {'9', "srv", "70", "/f.bin", "/tmp/tolm-abc/f.bin", "gopher://srv/9/f.bin"},
        {'h', "srv", "70", "URL:http://example.org/a", nullptr, "http://example.org/a"},
        {'h', "srv", "70", "url:http://example.org/a", nullptr, "url:http://example.org/a"},
        {'h', "srv", "70", "/page.html", nullptr, "/page.html"},
        {'h', "srv", "70", "URL:", nullptr, ""},
        {'8', "bbs", "23", "", nullptr, "telnet://@bbs:23"},
        {'8', "bbs", "70", "guest", nullptr, "telnet://guest@bbs:70"},
        {'T', "ibm", "23", "user", nullptr, "tn3270://user@ibm:23"},
        {'+', "srv", "70", "/m", nullptr, "gopher://srv/+/m"},
        {'1', "::1", "70", "/x", nullptr, "gopher://::1/1/x"},
        // Control bytes would end a shell's bracketed paste and run what
        // follows: they are encoded, every other byte stays.
        {'1', "srv", "70", "/a\x1b[201~\rrm -rf ~\n%41\x7f\x01\xc3\xa9", nullptr,
         "gopher://srv/1/a%1B[201~%0Drm -rf ~%0A%41%7F%01\xc3\xa9"},
        {'8', "h\x1b", "2\r", "u\t", nullptr, "telnet://u%09@h%1B:2%0D"},
        {'h', "srv", "70", "URL:http://x/\x1b]52;c;QQ==\x07", nullptr, "http://x/%1B]52;c;QQ==%07"},
        // The query follows the selector and its TAB, even when the
        // selector itself holds a TAB.
        {'7', "srv", "70", "/a\tb", "/a\tb\tq", "gopher://srv/7/a%09b%09q"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        Item item = make_item(c.type, c.host, c.port, c.selector, c.extra);
        item.mirror_type = c.type == '+' ? '9' : 0;
        int length = -1;
        EXPECT_EQ(uri_of(item, &length), c.uri);
        EXPECT_EQ(length, static_cast<int>(strlen(c.uri)));
        EXPECT_EQ(item_uri(item), c.uri);
    }
}

// Shown and yanked, a '+' line is a gopher item; opened, it is the remote
// login it mirrors, and the plumbed URI says which one.
TEST(UriTest, LoginUriGoesByTheMirroredType) {
    Item item = make_item('+', "ibm", "23", "user");
    for (char mirror : {'T', '8'}) {
        item.mirror_type = mirror;
        EXPECT_EQ(login_uri(item), mirror == 'T' ? "tn3270://user@ibm:23" : "telnet://user@ibm:23");
        EXPECT_EQ(item_uri(item), "gopher://ibm:23/+user");
    }
}

TEST(UriTest, LongUriIsCutAt255) {
    // "gopher://" and the host reach 255 characters or more: later pieces
    // are not printed at all.
    for (size_t host_len : {246u, 250u}) {
        SCOPED_TRACE(host_len);
        const std::string host(host_len, 'h');
        Item item = make_item('7', host.c_str(), "71", "/find", "/find\tq");
        int length = 0;
        const std::string uri = uri_of(item, &length);
        EXPECT_EQ(uri, ("gopher://" + host).substr(0, 255));
        EXPECT_EQ(length, static_cast<int>(9 + host_len));
    }
}

TEST(UriTest, WholeUriIsNeverCut) {
    const std::string host(300, 'h');
    Item item = make_item('7', host.c_str(), "71", "/find", "/find\tq");
    EXPECT_EQ(item_uri(item), "gopher://" + host + ":71/7/find%09q");
}

TEST(UriTest, CutInsideALaterPiece) {
    const std::string host(240, 'h');
    const std::string selector(40, 's');
    Item item = make_item('1', host.c_str(), "70", selector.c_str());
    int length = 0;
    const std::string uri = uri_of(item, &length);
    EXPECT_EQ(uri, ("gopher://" + host + "/1" + selector).substr(0, 255));
    EXPECT_EQ(length, 9 + 240 + 2 + 40);
}

TEST(UriTest, ItemWithoutFieldsGivesEmptyUri) {
    Item unsplit;
    unsplit.display = "1Title\tsel\thost\r";
    EXPECT_EQ(uri_of(unsplit), "");
    Item bare;
    EXPECT_EQ(uri_of(bare), "");
}

} // namespace
