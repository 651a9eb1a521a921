// The URL argument: scheme check and the grammar that builds the root item.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/startup.h"
#include "items/item.h"
#include "transport/transport.h"

namespace {

// The URL as start-up holds it: a writable copy that the grammar cuts.
struct RootFromUrl {
    std::vector<char> url;
    std::unique_ptr<Item> item;

    explicit RootFromUrl(const std::string& text) : url(text.begin(), text.end()) {
        url.push_back('\0');
        item.reset(make_root_item(tcp_transport.strip_scheme(url.data())));
    }
};

struct UrlCase {
    const char* url;
    const char* host;
    const char* port;
    char type;
    const char* selector;
    const char* extra; // nullptr: absent
};

const UrlCase url_cases[] = {
    {"gopher://host", "host", "70", '1', "", nullptr},
    {"host", "host", "70", '1', "", nullptr},
    {"gopher://host/", "host", "70", '1', "", nullptr},
    {"gopher://host/1", "host", "70", '1', "", nullptr},
    {"gopher://host:105/0/docs/a.txt", "host", "105", '0', "/docs/a.txt", nullptr},
    {"gopher://[fe80::1]:105/1/x", "fe80::1", "105", '1', "/x", nullptr},
    {"gopher://[::1]/1", "::1", "70", '1', "", nullptr},
    {"gopher://[::1]junk:71/", "::1", "71", '1', "", nullptr},
    {"gopher://host:70:71/1", "host", "71", '1', "", nullptr},
    {"gopher://host/1/a://b", "host", "70", '1', "/a://b", nullptr},
    {"gopher://host/7/find%09cats", "host", "70", '7', "/find", "/find\tcats"},
    {"gopher://host/7/find%09a%09b", "host", "70", '7', "/find", "/find\ta%09b"},
    {"gopher://host/1/find%09cats", "host", "70", '1', "/find%09cats", nullptr},
    // A literal TAB marks the query when there is no "%09".
    {"gopher://host/7/find\tcats", "host", "70", '7', "/find", "/find\tcats"},
    {"gopher://host:gopher/0", "host", "gopher", '0', "", nullptr},
    {"gopher://h]x[y/1/a:b]c", "h]x[y", "70", '1', "/a:b]c", nullptr},
    {"-h", "-h", "70", '1', "", nullptr},
};

TEST(UrlTest, RootItemFieldsFollowTheGrammar) {
    for (const UrlCase& c : url_cases) {
        SCOPED_TRACE(c.url);
        RootFromUrl root(c.url);
        const Item& item = *root.item;
        ASSERT_NE(item.host, nullptr);
        ASSERT_NE(item.port, nullptr);
        ASSERT_NE(item.selector, nullptr);
        EXPECT_STREQ(item.host, c.host);
        EXPECT_STREQ(item.port, c.port);
        EXPECT_EQ(item.type, c.type);
        EXPECT_EQ(item.mirror_type, 0);
        EXPECT_STREQ(item.selector, c.selector);
        EXPECT_EQ(item.display, item.selector);
        if (c.extra)
            EXPECT_STREQ(item.extra.get(), c.extra);
        else
            EXPECT_EQ(item.extra, nullptr);
        EXPECT_EQ(item.raw, nullptr);
        EXPECT_EQ(item.dir, nullptr);
        EXPECT_EQ(item.parent, &item);
    }
}

TEST(UrlTest, HostPortAndSelectorPointIntoTheUrlCopy) {
    RootFromUrl root("gopher://host:105/0/docs");
    const char* begin = root.url.data();
    const char* end = begin + root.url.size();
    for (const char* field : {root.item->host, root.item->port, root.item->selector}) {
        EXPECT_GE(field, begin);
        EXPECT_LT(field, end);
    }
}

TEST(UrlTest, MalformedUrlDies) {
    // The text after the scheme of gopher://host:/1, gopher:///1, gopher://,
    // an empty argument and gopher://[::1/1.
    for (const char* rest : {"host:/1", "/1", "", "[::1/1", "[::1", "host:", "[]:70/1"}) {
        SCOPED_TRACE(rest);
        std::string copy = rest;
        EXPECT_EXIT((void)make_root_item(copy.data()), testing::ExitedWithCode(1),
                    testing::Eq(std::string("Can't parse url\n")));
    }
}

TEST(UrlTest, StripSchemeFindsTheHost) {
    std::string with_scheme = "gopher://srv/1";
    EXPECT_EQ(tcp_transport.strip_scheme(with_scheme.data()), with_scheme.data() + 9);
    std::string without = "srv/1";
    EXPECT_EQ(tcp_transport.strip_scheme(without.data()), without.data());
    // Only the first "://" is the scheme's.
    std::string nested = "gopher://srv/1/a://b";
    EXPECT_EQ(tcp_transport.strip_scheme(nested.data()), nested.data() + 9);
}

TEST(UrlTest, UnsupportedSchemeDies) {
    const struct {
        const char* url;
        const char* message;
    } cases[] = {
        {"GOPHER://srv", "Protocol not supported: GOPHER\n"},
        {"go://srv", "Protocol not supported: go\n"},
        {"gophers://host", "Protocol not supported: gophers\n"},
        {"://srv", "Protocol not supported: \n"},
        {"srv/0/a://b", "Protocol not supported: srv/0/a\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string copy = c.url;
        EXPECT_EXIT(tcp_transport.strip_scheme(copy.data()), testing::ExitedWithCode(1),
                    testing::Eq(std::string(c.message)));
    }
}

} // namespace
