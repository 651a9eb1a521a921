// Item type labels, releasing the item tree and the array allocator.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "driver/process/alloc.h"
#include "driver/process/state.h"
#include "items/item.h"

namespace {

TEST(ItemTest, TypeTagTable) {
    const struct {
        int type;
        const char* tag;
    } cases[] = {
        {'0', "Txt+"},
        {'1', "Dir+"},
        {'2', "CSO|"},
        {'3', "Err|"},
        {'4', "Mac+"},
        {'5', "DOS+"},
        {'6', "UUE+"},
        {'7', "Ind+"},
        {'8', "Tln|"},
        {'9', "Bin+"},
        {'+', "Mir+"},
        {'I', "Img+"},
        {'T', "IBM|"},
        {'g', "GIF+"},
        {'h', "URL+"},
        {'i', "   |"},
        // Outside the table: '0' to 'Z' by byte value, everything else unknown.
        {':', "!  |"},
        {'@', "!  |"},
        {'A', "!  |"},
        {'Z', "!  |"},
        {'a', " ? +"},
        {'[', " ? +"},
        {' ', " ? +"},
        {'\0', " ? +"},
        {'/', " ? +"},
        {'*', " ? +"},
        {'j', " ? +"},
        {0x7F, " ? +"},
        {0xC3, " ? +"},
        {0xFF, " ? +"},
        {static_cast<char>(0xC3), " ? +"},
        {static_cast<char>(0x80), " ? +"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_STREQ(type_tag(c.type), c.tag);
    }
}

TEST(ItemTest, TypeTagSignExtendedByteMatchesUnsigned) {
    for (int b = 0; b < 256; b++) {
        SCOPED_TRACE(b);
        const char* tag = type_tag(b);
        EXPECT_STREQ(type_tag(static_cast<signed char>(b)), tag);
        EXPECT_EQ(strlen(tag), 4u);
    }
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

void touch(const std::string& path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
    ASSERT_GE(fd, 0) << path << ": " << strerror(errno);
    close(fd);
}

// A real private directory in the process-wide tmpdir, as start-up makes it.
class ReleaseTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(tmpdir), nullptr) << strerror(errno);
        dir_ = tmpdir;
        char outside[] = "/tmp/tolm-unit-XXXXXX";
        ASSERT_NE(mkdtemp(outside), nullptr);
        outside_dir_ = outside;
    }
    void TearDown() override {
        for (const std::string& path : created_)
            unlink(path.c_str());
        rmdir(dir_.c_str());
        rmdir(outside_dir_.c_str());
        memcpy(tmpdir, tmpdir_template, sizeof tmpdir);
        in_child = 0;
    }
    std::string file(const std::string& path) {
        touch(path);
        created_.push_back(path);
        return path;
    }
    static Item saved_as(const std::string& path) {
        Item item;
        item.type = '9';
        item.extra.reset(strdup(path.c_str()));
        return item;
    }

    std::string dir_;
    std::string outside_dir_;
    std::vector<std::string> created_;
};

TEST_F(ReleaseTest, RemovesOnlyFilesInsideTheTemporaryDirectory) {
    const std::string inside = file(dir_ + "/image.gif");
    const std::string outside = file(outside_dir_ + "/image.gif");
    // Deliberately stricter than a plain prefix test: a file next to the
    // directory whose name starts with the directory's is the user's.
    const std::string sibling = file(dir_ + "x");

    for (const std::string& path : {inside, outside, sibling}) {
        Item item = saved_as(path);
        release_item(&item);
        EXPECT_EQ(item.extra, nullptr);
    }
    EXPECT_FALSE(exists(inside));
    EXPECT_TRUE(exists(outside));
    EXPECT_TRUE(exists(sibling));
}

TEST_F(ReleaseTest, SearchSelectorRemovesNothing) {
    const std::string inside = file(dir_ + "/q");
    Item item;
    item.type = '7';
    item.extra.reset(strdup("/find\tq"));
    release_item(&item);
    EXPECT_EQ(item.extra, nullptr);
    EXPECT_TRUE(exists(inside));
}

TEST_F(ReleaseTest, ForkedChildRemovesNothing) {
    const std::string inside = file(dir_ + "/page.png");
    Item item = saved_as(inside);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        in_child = 1;
        release_item(&item);
        _exit(item.extra == nullptr ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child kept extra";
    EXPECT_TRUE(exists(inside));

    release_item(&item);
    EXPECT_FALSE(exists(inside));
}

TEST_F(ReleaseTest, ReleasesTheWholeTreeOnceAndCanBeRepeated) {
    const std::string deep = file(dir_ + "/deep.bin");
    const std::string shallow = file(dir_ + "/shallow.bin");

    Item root;
    root.type = '1';
    root.raw.reset(strdup("menu text"));
    root.dir = std::make_unique<Dir>();
    root.dir->count = 3;
    root.dir->items = ItemArray(3);
    for (int i = 0; i < 3; i++)
        root.dir->items.add();
    Item& file_item = root.dir->items[0];
    file_item.extra.reset(strdup(shallow.c_str()));
    Item& never_fetched = root.dir->items[1];
    never_fetched.type = '0';
    Item& submenu = root.dir->items[2];
    submenu.type = '1';
    submenu.raw.reset(strdup("sub menu"));
    submenu.dir = std::make_unique<Dir>();
    submenu.dir->count = 1;
    submenu.dir->items = ItemArray(1);
    submenu.dir->items.add().extra.reset(strdup(deep.c_str()));

    release_item(&root);
    EXPECT_FALSE(exists(deep));
    EXPECT_FALSE(exists(shallow));
    EXPECT_EQ(root.dir, nullptr);
    EXPECT_EQ(root.raw, nullptr);
    EXPECT_EQ(root.extra, nullptr);

    release_item(&root);
    release_item(nullptr);
    EXPECT_EQ(root.dir, nullptr);
    EXPECT_EQ(root.type, '1');
}

TEST(ItemTest, ResizeArrayToZeroFreesAndReturnsNull) {
    void* block = resize_array_or_die(nullptr, 4, 8);
    ASSERT_NE(block, nullptr);
    memset(block, 1, 32);
    EXPECT_EQ(resize_array_or_die(block, 0, 8), nullptr);
    EXPECT_EQ(resize_array_or_die(nullptr, 0, 0), nullptr);
}

TEST(ItemTest, ResizeArrayOverflowDies) {
    const struct {
        size_t count;
        size_t size;
    } cases[] = {{SIZE_MAX, 2}, {size_t{1} << 32, size_t{1} << 32}, {2, SIZE_MAX / 2 + 1}};
    for (const auto& c : cases) {
        EXPECT_EXIT((void)resize_array_or_die(nullptr, c.count, c.size), testing::ExitedWithCode(1),
                    testing::Eq(std::string("realloc: overflow\n")));
    }
}

// A failed operator new (a std::string, make_unique) must end the run
// through die, with its clean-up, not abort on an uncaught exception.
TEST(ItemTest, FailedOperatorNewDies) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reports an impossible allocation itself";
#else
    EXPECT_EXIT(
        {
            std::set_new_handler(out_of_memory);
            std::string text(SIZE_MAX / 4, 'x');
        },
        testing::ExitedWithCode(1), "^malloc: ");
#endif
}

} // namespace
