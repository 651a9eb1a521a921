// tolm in batch mode against a real gopher server: Debian's gophernicus
// serving tests/data/gopherhole. What tolm prints is compared with what the
// server sends to a plain socket.
#include "gophernicus.h"
#include "listing.h"
#include "pty_run.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace tolmtest;

namespace {

// 8 KiB in which every byte value appears, in an order that is not a
// simple count.
std::string binary_contents() {
    std::string s;
    for (int i = 0; i < 8192; ++i)
        s += static_cast<char>((i * 167 + i / 256) & 0xFF);
    return s;
}

void add_binary(const std::string& root) {
    std::ofstream(root + "/data.bin", std::ios::binary) << binary_contents();
}

struct MenuLine {
    char type;
    std::string display, selector;
};

// The lines of a menu response with their first three fields.
std::vector<MenuLine> menu_lines(const std::string& menu) {
    std::vector<MenuLine> lines;
    size_t start = 0;
    for (size_t nl; (nl = menu.find("\r\n", start)) != std::string::npos; start = nl + 2) {
        std::string line = menu.substr(start, nl - start);
        if (line == "." || line.empty()) continue;
        size_t t1 = line.find('\t');
        size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        if (t2 == std::string::npos) continue;
        lines.push_back({line[0], line.substr(1, t1 - 1), line.substr(t1 + 1, t2 - t1 - 1)});
    }
    return lines;
}

class GophernicusTest : public TolmTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(
            server_.start(std::string(TOLM_SOURCE_DIR) + "/tests/data/gopherhole", add_binary));
        root_menu_ = server_.fetch("");
        ASSERT_GE(root_menu_.size(), 3u);
        ASSERT_EQ(root_menu_.substr(root_menu_.size() - 3), ".\r\n") << root_menu_;
    }

    // The selector of the root menu's line with this display text.
    std::string selector_of(const std::string& display) {
        for (const auto& l : menu_lines(root_menu_))
            if (l.display == display) return l.selector;
        ADD_FAILURE() << "no line \"" << display << "\" in the root menu:\n" << root_menu_;
        return "/nonexistent";
    }

    BatchResult tolm(const std::string& path) {
        BatchResult r = run_batch({server_.url(path)});
        EXPECT_TRUE(r.finished) << r.transcript;
        EXPECT_TRUE(r.status.exited && r.status.code == 0) << r.transcript;
        EXPECT_EQ(r.err, "") << r.transcript;
        return r;
    }

    Gophernicus server_;
    std::string root_menu_;
};

TEST_F(GophernicusTest, RootMenuListing) {
    std::string expected = expected_listing(root_menu_);
    // The server serves the gopherhole as intended.
    for (const char* line : {"   |Welcome to the tolm test gopherhole\n", "Txt+A text file\n",
                             "Dir+A sub-menu\n", "Bin+A binary file with every byte value\n"})
        EXPECT_NE(expected.find(line), std::string::npos) << expected;
    EXPECT_EQ(expected.find("comment"), std::string::npos) << expected;

    EXPECT_EQ(tolm("").out, expected);
    EXPECT_EQ(tolm("/").out, expected);
    EXPECT_EQ(tolm("/1").out, expected);
}

TEST_F(GophernicusTest, SubMenuListing) {
    std::string selector = selector_of("A sub-menu");
    std::string served = server_.fetch(selector);
    std::string expected = expected_listing(served);
    EXPECT_NE(expected.find("Txt+notes.txt\n"), std::string::npos) << expected;
    EXPECT_NE(expected.find("Dir+more"), std::string::npos) << expected;
    EXPECT_EQ(tolm("/1" + selector).out, expected);
}

TEST_F(GophernicusTest, TextByteForByte) {
    std::string selector = selector_of("A text file");
    std::string served = server_.fetch(selector);
    EXPECT_NE(served.find("This line starts with dots.\r\n"), std::string::npos) << served;
    BatchResult r = tolm("/0" + selector);
    EXPECT_EQ(r.out, served);
}

TEST_F(GophernicusTest, MissingFileIsShownAsTheServerSendsIt) {
    std::string served = server_.fetch("/no-such-file.txt");
    EXPECT_NE(served.find("Error"), std::string::npos) << served;
    EXPECT_EQ(tolm("/0/no-such-file.txt").out, served);
}

TEST_F(GophernicusTest, BinaryByteForByte) {
    std::string selector = selector_of("A binary file with every byte value");
    std::string served = server_.fetch(selector);
    const std::string contents = binary_contents();
    ASSERT_TRUE(served == contents)
        << "gophernicus changed the binary (" << served.size() << " bytes served)";
    BatchResult r = tolm("/9" + selector);
    EXPECT_EQ(r.out.size(), contents.size());
    EXPECT_TRUE(r.out == contents) << "tolm's copy differs from the file";
}

} // namespace
