// Interactive tolm saving files and handing items to the plumber program:
// the files it writes, the programs it starts and what it remembers, with
// a fake xdg-open on PATH.
#include "fake_server.h"
#include "isolation.h"
#include "pty_run.h"
#include "screen.h"
#include "session.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace tolmtest;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Every byte value, with a gopher end-of-response line in the middle that
// must be saved like any other bytes; more than one 1024-byte block.
std::string payload(int seed) {
    std::string s;
    for (int b = 0; b < 256; ++b)
        s += static_cast<char>((b * 11 + seed) & 0xFF);
    s += "\r\n.\r\n";
    for (int i = 0; i < 3000; ++i)
        s += static_cast<char>((i * 7 + seed + i / 256) & 0xFF);
    return s;
}

class SaveTest : public InteractiveTest {
  protected:
    void SetUp() override {
        fs::create_directory(cwd());
        fs::create_directory(dir_.file("bin"));
        // Logs its argument last, after copying the file it names, so a
        // logged line means the copy is complete.
        std::string log = dir_.file("plumbed"), copies = dir_.file("copy.");
        write_script(dir_.file("bin/xdg-open"), "n=$(cat '" + log +
                                                    "' 2>/dev/null | wc -l)\n"
                                                    "if [ -f \"$1\" ]; then cat \"$1\" > '" +
                                                    copies +
                                                    "'$n; fi\n"
                                                    "printf '%s\\n' \"$1\" >> '" +
                                                    log + "'\n");
        write_script(dir_.file("bin/pager"), "cat > '" + dir_.file("paged.tmp") + "'\nmv '" +
                                                 dir_.file("paged.tmp") + "' '" +
                                                 dir_.file("paged") + "'\n");
    }

    std::string cwd() const { return dir_.file("cwd"); }
    std::string in_cwd(const std::string& name) const { return cwd() + "/" + name; }
    std::vector<std::string> plumbed() const { return lines_of(read_file(dir_.file("plumbed"))); }
    std::string copy(int n) const { return read_file(dir_.file("copy." + std::to_string(n))); }
    size_t requests_for(const std::string& selector) const {
        size_t n = 0;
        for (const auto& r : server_.requests())
            n += r == selector;
        return n;
    }
    std::string line(char type, const std::string& display, const std::string& selector) const {
        return menu_line(type, display, selector, "127.0.0.1", std::to_string(server_.port()));
    }
    std::string status_bar() const {
        return "100%| 127.0.0.1:" + std::to_string(server_.port()) + "/1/m";
    }

    // Serves menu and starts tolm on it.
    Session& start_on(const std::string& menu) {
        server_.on("/m", Script::send(menu + ".\r\n"));
        RunOptions o;
        o.cwd = cwd();
        o.pager = dir_.file("bin/pager");
        o.env["PATH"] = dir_.file("bin") + ":/usr/bin:/bin";
        Session& s = start("/1/m", o);
        EXPECT_TRUE(s.wait([&] { return s.highlight() == 0 && s.status() == status_bar(); }))
            << s.dump();
        return s;
    }

    // The prompt on the status row, the cursor right after it.
    static bool prompting(const Session& s, const std::string& prompt) {
        return s.status() == prompt.substr(0, prompt.size() - 1) &&
               s.screen().cursor_col() == static_cast<int>(prompt.size());
    }

    // A download of selector, answered with Enter at its prompt, from a
    // server that sends "the first bytes" and then holds the connection.
    Session& start_held_download(char type, const std::string& selector,
                                 const std::string& prompt) {
        Script held = Script::send("the first bytes");
        held.end = Script::End::Silent;
        server_.on(selector, held);
        Session& s = start_on(line(type, "Slow", selector));
        s.keys("\r");
        EXPECT_TRUE(s.wait([&] { return prompting(s, prompt); })) << s.dump();
        s.keys("\r");
        return s;
    }
    // The page drawn anew after an action, highlight on row.
    bool back_on_page(const Session& s, int row) const {
        return s.redrawn() && s.highlight() == row && s.status() == status_bar();
    }
    // The confirmation of a complete save, then the page after its key.
    bool saved_and_back(Session& s, size_t bytes, const std::string& path, int row) const {
        const std::string said = "Saved " + std::to_string(bytes) + " bytes to \"" + path + "\"";
        if (!s.wait([&] { return s.status().rfind(said + " [Press a key", 0) == 0; })) return false;
        s.keys(" ");
        return s.wait([&] { return back_on_page(s, row); });
    }

    TempDir dir_{"/tmp/e2e-save-"};
};

// ---------------------------------------------------------------- save

TEST_F(SaveTest, BinaryIsSavedByteForByteAndRemembered) {
    const std::string data = payload(1);
    server_.on("/pub/a.bin", Script::send(data));
    Session& s = start_on(line('9', "A binary", "/pub/a.bin"));
    const std::string prompt = "Download to [a.bin] (^D cancel): ";
    auto save = [&](const std::string& answer, const std::string& confirmed) {
        s.keys("\r");
        ASSERT_SCREEN(s, prompting(s, prompt));
        s.keys(answer + "\r");
        if (confirmed.empty())
            ASSERT_SCREEN(s, back_on_page(s, 0));
        else
            ASSERT_TRUE(saved_and_back(s, data.size(), confirmed, 0)) << s.dump();
    };

    save("", "a.bin");
    EXPECT_TRUE(read_file(in_cwd("a.bin")) == data) << "a.bin differs from what was served";
    EXPECT_EQ(requests_for("/pub/a.bin"), 1u);
    struct stat st {};
    ASSERT_EQ(stat(in_cwd("a.bin").c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0640u & ~mask);

    save("", ""); // already there: nothing to say
    save("b.bin", "b.bin");
    EXPECT_EQ(requests_for("/pub/a.bin"), 1u);
    EXPECT_TRUE(read_file(in_cwd("b.bin")) == data) << "b.bin is not a copy of a.bin";
    EXPECT_TRUE(read_file(in_cwd("a.bin")) == data);

    // A remembered file that has gone is fetched again.
    fs::remove(in_cwd("a.bin"));
    save("", "a.bin");
    EXPECT_EQ(requests_for("/pub/a.bin"), 2u);
    EXPECT_TRUE(read_file(in_cwd("a.bin")) == data);
    EXPECT_TRUE(s.quits());
}

TEST_F(SaveTest, ImageIsPlumbedFromThePrivateDirectory) {
    const std::string data = payload(2);
    server_.on("/pics/cat.gif", Script::send(data));
    Session& s = start_on(line('I', "A cat", "/pics/cat.gif"));
    const std::string prompt = "Download cat.gif to (^D cancel, <empty> plumb): ";

    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, prompt));
    s.keys("\r");
    ASSERT_SCREEN(s, plumbed().size() == 1 && s.status().rfind("Plumbed \"/tmp/tolm-", 0) == 0);
    const std::string path = plumbed()[0];
    ASSERT_GT(path.size(), 18u);
    EXPECT_EQ(path.substr(0, 10), "/tmp/tolm-");
    EXPECT_EQ(path[16], '/') << path;
    EXPECT_EQ(path.substr(path.size() - 7), "cat.gif");
    EXPECT_EQ(path.find('/', 17), std::string::npos) << path;
    EXPECT_TRUE(copy(0) == data) << "the file was not complete when it was plumbed";
    EXPECT_EQ(s.status().rfind("Plumbed \"" + path + "\" [Press a key", 0), 0u) << s.dump();
    const std::string private_dir = path.substr(0, 16);
    s.keys(" ");
    ASSERT_SCREEN(s, back_on_page(s, 0));

    // Plumbed again from the remembered file.
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, prompt));
    s.keys("\r");
    ASSERT_SCREEN(s, plumbed().size() == 2 && s.status().rfind("Plumbed", 0) == 0);
    EXPECT_EQ(plumbed()[1], path);
    EXPECT_TRUE(copy(1) == data);
    s.keys(" ");
    ASSERT_SCREEN(s, back_on_page(s, 0));

    // A typed path only saves a copy there.
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, prompt));
    s.keys("saved.gif\r");
    ASSERT_TRUE(saved_and_back(s, data.size(), "saved.gif", 0)) << s.dump();
    EXPECT_TRUE(read_file(in_cwd("saved.gif")) == data);
    EXPECT_EQ(plumbed().size(), 2u);
    EXPECT_EQ(requests_for("/pics/cat.gif"), 1u);
    EXPECT_TRUE(fs::exists(path));

    EXPECT_TRUE(s.quits());
    EXPECT_FALSE(fs::exists(private_dir)) << private_dir;
    EXPECT_TRUE(fs::exists(in_cwd("saved.gif")));
}

TEST_F(SaveTest, ImagesWithTheSameNameKeepTheirOwnFiles) {
    const std::string first = payload(3), second = payload(4);
    server_.on("/a/cat.gif", Script::send(first));
    server_.on("/b/cat.gif", Script::send(second));
    Session& s =
        start_on(line('I', "First cat", "/a/cat.gif") + line('I', "Second cat", "/b/cat.gif"));
    auto open = [&](const char* keys, int row, size_t count) {
        s.keys(keys);
        ASSERT_SCREEN(s, s.highlight() == row && prompting(s, "Download cat.gif to (^D "
                                                              "cancel, <empty> plumb): "));
        s.keys("\r");
        ASSERT_SCREEN(s, plumbed().size() == count && s.status().rfind("Plumbed", 0) == 0);
        s.keys(" ");
        ASSERT_SCREEN(s, back_on_page(s, row));
    };

    open("\r", 0, 1);
    open("j\r", 1, 2);
    std::vector<std::string> paths = plumbed();
    EXPECT_TRUE(copy(0) == first);
    EXPECT_TRUE(copy(1) == second);
    EXPECT_NE(paths[0], paths[1]);
    EXPECT_EQ(paths[1].substr(paths[1].size() - 7), "cat.gif");
    EXPECT_TRUE(read_file(paths[0]) == first) << "the second image overwrote the first's file";

    open("k\r", 0, 3);
    EXPECT_EQ(plumbed()[2], paths[0]);
    EXPECT_TRUE(copy(2) == first);
    EXPECT_EQ(requests_for("/a/cat.gif"), 1u);
    EXPECT_EQ(requests_for("/b/cat.gif"), 1u);
    EXPECT_TRUE(s.quits());
}

TEST_F(SaveTest, CancelledAndFailedSavesRememberNothing) {
    const std::string data = payload(5);
    server_.on("/pub/a.bin", Script::send(data));
    server_.on("/pub/r.bin", Script::reset_after("partial data", milliseconds(100)));
    Session& s =
        start_on(line('9', "A binary", "/pub/a.bin") + line('I', "A cat", "/pics/cat.gif") +
                 line('9', "Cut short", "/pub/r.bin"));
    const std::string save_prompt = "Download to [a.bin] (^D cancel): ";

    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, save_prompt));
    s.keys("\x04");
    ASSERT_SCREEN(s, back_on_page(s, 0));
    s.keys("j\r");
    ASSERT_SCREEN(s, prompting(s, "Download cat.gif to (^D cancel, <empty> plumb): "));
    s.keys("\x04");
    ASSERT_SCREEN(s, back_on_page(s, 1));
    EXPECT_EQ(server_.requests(), std::vector<std::string>{"/m"});
    EXPECT_EQ(entries(cwd()), std::vector<std::string>{});
    EXPECT_TRUE(plumbed().empty());

    s.keys("k\r");
    ASSERT_SCREEN(s, prompting(s, save_prompt));
    s.keys("nodir/x.bin\r");
    ASSERT_SCREEN(s, s.status().rfind("Can't open destination file nodir/x.bin: No such file "
                                      "or directory [Press a key",
                                      0) == 0);
    s.keys(" ");
    ASSERT_SCREEN(s, back_on_page(s, 0));
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, save_prompt));
    s.keys("\r");
    ASSERT_TRUE(saved_and_back(s, data.size(), "a.bin", 0)) << s.dump();
    EXPECT_EQ(requests_for("/pub/a.bin"), 1u);
    EXPECT_TRUE(read_file(in_cwd("a.bin")) == data);

    s.keys("jj\r");
    ASSERT_SCREEN(s, prompting(s, "Download to [r.bin] (^D cancel): "));
    s.keys("\r");
    ASSERT_SCREEN(s, s.status().rfind("Error downloading file /pub/r.bin: Connection reset by "
                                      "peer [Press a key",
                                      0) == 0);
    s.keys(" ");
    ASSERT_SCREEN(s, back_on_page(s, 2));
    // A failed download leaves nothing at the name: saving again asks nothing.
    EXPECT_EQ(entries(cwd()), std::vector<std::string>{"a.bin"});
    server_.on("/pub/r.bin", Script::send(data));
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, "Download to [r.bin] (^D cancel): "));
    s.keys("\r");
    ASSERT_TRUE(saved_and_back(s, data.size(), "r.bin", 2)) << s.dump();
    EXPECT_EQ(requests_for("/pub/r.bin"), 2u);
    EXPECT_TRUE(read_file(in_cwd("r.bin")) == data);
    EXPECT_TRUE(s.quits());
}

TEST_F(SaveTest, NamesThatAreDirectoriesAreRefused) {
    Session& s = start_on(line('9', "Dots", "/pub/..") + line('9', "Empty", "/pub/") +
                          line('I', "Image dots", "/pics/..") + line('I', "Image empty", "/pics/"));
    struct Case {
        const char* prompt;
        std::string message; // the start of the status row
    };
    const Case cases[] = {
        {"Download to [..] (^D cancel): ", "Can't open destination file ..: Is a directory"},
        {"Download to [] (^D cancel): ", "Can't open destination file : No such file or dir"},
        {"Download .. to (^D cancel, <empty> plumb): ", "Can't open destination file /tmp/tolm-"},
        {"Download  to (^D cancel, <empty> plumb): ", "Can't open destination file /tmp/tolm-"},
    };
    for (int row = 0; row < 4; ++row) {
        SCOPED_TRACE(cases[row].prompt);
        s.keys(row == 0 ? "\r" : "j\r");
        ASSERT_SCREEN(s, s.highlight() == row && prompting(s, cases[row].prompt));
        s.keys("\r");
        ASSERT_SCREEN(s, s.status().rfind(cases[row].message, 0) == 0 &&
                             s.status().find("[Press a key") != std::string::npos);
        if (row >= 2) {
            std::string st = s.status();
            EXPECT_NE(st.find(row == 2 ? "/..: Is a directory" : "/: Is a directory"),
                      std::string::npos)
                << st;
        }
        s.keys(" ");
        ASSERT_SCREEN(s, back_on_page(s, row));
    }
    EXPECT_EQ(server_.requests(), std::vector<std::string>{"/m"});
    EXPECT_TRUE(plumbed().empty());
    EXPECT_EQ(entries(cwd()), std::vector<std::string>{});
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"bin", "cwd"}));
    EXPECT_TRUE(s.quits());
}

// A server's selector holding an escape sequence (a clipboard write, a
// screen clear) reaches neither the terminal, through the download's
// message, nor a file name: the file gets the name the prompt showed.
TEST_F(SaveTest, HostileSelectorReachesNeitherTheTerminalNorAFileName) {
    const std::string evil = "\x1b]52;c;aGk=\x07\x1b[2J";
    server_.on("/pub/a" + evil + "b.bin", Script::send("data"));
    server_.on("/pub/r" + evil + ".bin", Script::reset_after("partial", milliseconds(100)));
    Session& s = start_on(line('9', "Named", "/pub/a" + evil + "b.bin") +
                          line('9', "Cut short", "/pub/r" + evil + ".bin"));
    const std::string name = "a_]52;c;aGk=__[2Jb.bin";

    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, "Download to [" + name + "] (^D cancel): "));
    s.keys("\r");
    ASSERT_TRUE(saved_and_back(s, 4, name, 0)) << s.dump();
    EXPECT_EQ(entries(cwd()), std::vector<std::string>{name});
    EXPECT_EQ(read_file(in_cwd(name)), "data");

    s.keys("j\r");
    ASSERT_SCREEN(s, prompting(s, "Download to [r_]52;c;aGk=__[2J.bin] (^D cancel): "));
    s.keys("\r");
    ASSERT_SCREEN(s, s.status().rfind("Error downloading file /pub/r]52;c;aGk=[2J.bin: "
                                      "Connection reset by peer [Press",
                                      0) == 0);
    EXPECT_EQ(s.run().pty().find("\x1b]52"), std::string::npos) << s.dump();
    EXPECT_EQ(s.run().pty().find('\x07'), std::string::npos) << s.dump();
    s.keys(" ");
    ASSERT_SCREEN(s, back_on_page(s, 1));
    EXPECT_TRUE(s.quits());
}

// The replaced file is still what it was to others: private, runnable,
// and as root the user's.
TEST_F(SaveTest, ExistingFileIsReplacedOnlyWhenTheUserSaysYes) {
    const bool root = geteuid() == 0;
    const uid_t nobody = 65534;
    std::ofstream(in_cwd(".bashrc")) << "mine";
    ASSERT_EQ(chmod(in_cwd(".bashrc").c_str(), 0700), 0);
    ASSERT_TRUE(!root || chown(in_cwd(".bashrc").c_str(), nobody, nobody) == 0);
    server_.on("/.bashrc", Script::send("theirs"));
    Session& s = start_on(line('9', "Innocent", "/.bashrc") + line('I', "Picture", "/x.gif"));
    const std::string replace = "File .bashrc exists. Replace it? (y/N): ";

    // One key answers, and any key but y declines at once.
    for (const char* no : {"\r", "n", "\x1b", "\x04", "z"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(no)));
        s.keys("\r");
        ASSERT_SCREEN(s, prompting(s, "Download to [.bashrc] (^D cancel): "));
        s.keys("\r");
        ASSERT_SCREEN(s, prompting(s, replace));
        s.keys(no);
        ASSERT_SCREEN(s, back_on_page(s, 0));
    }
    EXPECT_EQ(read_file(in_cwd(".bashrc")), "mine");
    EXPECT_EQ(requests_for("/.bashrc"), 0u);

    // A typed name is asked about the same way; 'Y' replaces, and what is
    // typed after it is a key: of the confirmation, then of the page.
    server_.on("/x.gif", Script::send("theirs"));
    s.keys("j\r");
    ASSERT_SCREEN(s, prompting(s, "Download x.gif to (^D cancel, <empty> plumb): "));
    s.keys(".bashrc\r");
    ASSERT_SCREEN(s, prompting(s, replace));
    s.keys("Y k");
    ASSERT_SCREEN(s, back_on_page(s, 0));
    EXPECT_EQ(read_file(in_cwd(".bashrc")), "theirs");
    struct stat st {};
    ASSERT_EQ(stat(in_cwd(".bashrc").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_TRUE(!root || (st.st_uid == nobody && st.st_gid == nobody)) << st.st_uid;
    EXPECT_TRUE(s.quits());
}

// Makes dir take no new file while file, in it, stays writable: a mode for
// anyone but root; for root, who ignores modes, a read-only mount of dir
// over a writable file laid on file. Undone when it goes.
class NoNewFiles {
  public:
    NoNewFiles(const std::string& dir, const std::string& file)
        : dir_(dir), file_(std::map<std::string, std::string>{{file, read_file(file)}}) {
        made_ = geteuid() != 0 ? chmod(dir.c_str(), 0555) == 0
                               : file_.laid() &&
                                     mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND | MS_REC,
                                           nullptr) == 0 &&
                                     mount(nullptr, dir.c_str(), nullptr,
                                           MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~NoNewFiles() {
        if (geteuid() != 0)
            chmod(dir_.c_str(), 0755);
        else
            umount2(dir_.c_str(), MNT_DETACH);
    }
    NoNewFiles(const NoNewFiles&) = delete;
    NoNewFiles& operator=(const NoNewFiles&) = delete;
    bool made() const { return made_; }

  private:
    std::string dir_;
    SystemFiles file_;
    bool made_ = false;
};

// A file the user may write, in a directory where no file can be made
// beside it, is written in place once the user agrees to replace it.
TEST_F(SaveTest, FileInADirectoryThatTakesNoNewFileIsWrittenInPlace) {
    const std::string data = payload(6);
    server_.on("/pub/b.bin", Script::send(data));
    fs::create_directory(in_cwd("locked"));
    write_file(in_cwd("locked/b.bin"), "mine");
    NoNewFiles locked(in_cwd("locked"), in_cwd("locked/b.bin"));
    if (!locked.made()) GTEST_SKIP() << "no way here to make a directory refuse new files";
    Session& s = start_on(line('9', "A binary", "/pub/b.bin"));
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, "Download to [b.bin] (^D cancel): "));
    s.keys("locked/b.bin\r");
    ASSERT_SCREEN(s, prompting(s, "File locked/b.bin exists. Replace it? (y/N): "));
    s.keys("y");
    ASSERT_TRUE(saved_and_back(s, data.size(), "locked/b.bin", 0)) << s.dump();
    EXPECT_TRUE(read_file(in_cwd("locked/b.bin")) == data) << read_file(in_cwd("locked/b.bin"));
    EXPECT_EQ(entries(in_cwd("locked")), std::vector<std::string>{"b.bin"});
    // Remembered like any saved file: a copy elsewhere needs no request.
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, "Download to [b.bin] (^D cancel): "));
    s.keys("\r");
    ASSERT_TRUE(saved_and_back(s, data.size(), "b.bin", 0)) << s.dump();
    EXPECT_TRUE(read_file(in_cwd("b.bin")) == data);
    EXPECT_EQ(requests_for("/pub/b.bin"), 1u);
    EXPECT_TRUE(s.quits());
}

// ---------------------------------------------------------------- 's'

// 's' keeps any item in a file: a text as batch mode prints it, fetched as
// viewing fetches it; a menu and a search's results as the server sends
// them, asked for anew; a binary as Enter saves it. An information line
// and a line without fields have nothing to save: no prompt, no request.
TEST_F(SaveTest, SKeySavesEveryKindOfItemAsItCame) {
    const std::string text = "line one\r\n..dotted\r\n", sub = info_line("inside") + ".\r\n",
                      results = line('0', "Hit", "/hit") + ".\r\n", data = payload(7);
    server_.on("/t.txt", Script::send(text + ".\r\n"));
    server_.on("/sub", Script::send(sub));
    server_.on("/find\tcats", Script::send(results));
    server_.on("/pub/a.bin", Script::send(data));
    const BatchResult batch = run_batch({server_.url("/0/t.txt")});
    ASSERT_TRUE(batch.finished && !batch.out.empty()) << batch.transcript;
    Session& s =
        start_on(info_line("About") + line('0', "Text", "/t.txt") + line('1', "Sub", "/sub") +
                 line('7', "Find", "/find") + line('9', "Binary", "/pub/a.bin") + "Just words\r\n");
    auto save = [&](const char* keys, int row, const std::string& name, size_t bytes) {
        s.keys(keys);
        ASSERT_SCREEN(s, s.highlight() == row &&
                             prompting(s, "Download to [" + name + "] (^D cancel): "));
        s.keys("\r");
        ASSERT_TRUE(saved_and_back(s, bytes, name, row)) << s.dump();
    };

    s.keys("s");
    ASSERT_TRUE(s.settle());
    EXPECT_FALSE(s.redrawn());
    EXPECT_EQ(s.status(), status_bar());

    save("js", 1, "t.txt", batch.out.size());
    EXPECT_EQ(read_file(in_cwd("t.txt")), batch.out);
    s.keys("\r"); // kept, as after viewing
    ASSERT_SCREEN(s, back_on_page(s, 1) && fs::exists(dir_.file("paged")));
    EXPECT_EQ(read_file(dir_.file("paged")), batch.out);
    EXPECT_EQ(requests_for("/t.txt"), 2u);

    save("js", 2, "sub", sub.size());
    EXPECT_EQ(read_file(in_cwd("sub")), sub);

    s.keys("j\r");
    ASSERT_SCREEN(s, prompting(s, "Enter search string (^D cancel) []: "));
    s.keys("cats\r");
    ASSERT_SCREEN(s, s.highlight_is(0, "Txt+ Hit"));
    s.keys("h");
    ASSERT_SCREEN(s, back_on_page(s, 3));
    save("s", 3, "find", results.size());
    EXPECT_EQ(read_file(in_cwd("find")), results);
    EXPECT_EQ(requests_for("/find\tcats"), 2u);

    save("js", 4, "a.bin", data.size());
    EXPECT_TRUE(read_file(in_cwd("a.bin")) == data);

    // A line without fields has nothing to save; Enter on it says so, asks
    // for nothing and brings the page back.
    const size_t asked = server_.requests().size();
    s.keys("js");
    ASSERT_TRUE(s.settle());
    EXPECT_TRUE(s.highlight() == 5 && s.status() == status_bar()) << s.dump();
    s.keys("\r");
    ASSERT_SCREEN(s, s.status().rfind("Couldn't get :/ ", 0) == 0);
    s.keys(" ");
    ASSERT_SCREEN(s, back_on_page(s, 5));
    EXPECT_EQ(server_.requests().size(), asked);
    EXPECT_EQ(entries(cwd()), (std::vector<std::string>{"a.bin", "find", "sub", "t.txt"}));
    EXPECT_TRUE(s.quits());
}

// ---------------------------------------------------------------- plumbing

TEST_F(SaveTest, RemoteLoginsAndLinksArePlumbed) {
    std::string port = std::to_string(server_.port());
    Session& s = start_on(menu_line('8', "Telnet user", "user", "host", "23") +
                          menu_line('8', "Telnet", "", "bbs", "23") +
                          menu_line('T', "IBM user", "ibm", "mainframe", "2323") +
                          menu_line('T', "IBM", "", "mainframe", "23") +
                          line('h', "Web", "URL:https://example.org/page") +
                          line('h', "Lower case", "url:http://example.org/x"));
    server_.on("url:http://example.org/x", Script::send("fetched as text\r\n.\r\n"));
    const std::vector<std::string> expected = {
        "telnet://user@host:23", "telnet://@bbs:23", "tn3270://ibm@mainframe:2323",
        "tn3270://@mainframe:23", "https://example.org/page"};
    for (int row = 0; row < 5; ++row) {
        const std::string& uri = expected[static_cast<size_t>(row)];
        SCOPED_TRACE(uri);
        s.keys(row == 0 ? "\r" : "j\r");
        ASSERT_SCREEN(s, plumbed().size() == static_cast<size_t>(row + 1) &&
                             s.status().rfind("Plumbed \"" + uri + "\"", 0) == 0);
        s.keys(" ");
        ASSERT_SCREEN(s, back_on_page(s, row));
    }
    EXPECT_EQ(plumbed(), expected);
    EXPECT_EQ(server_.requests(), std::vector<std::string>{"/m"});

    s.keys("j\r");
    ASSERT_SCREEN(s, back_on_page(s, 5) && fs::exists(dir_.file("paged")));
    EXPECT_EQ(read_file(dir_.file("paged")), "fetched as text\r\n");
    EXPECT_EQ(plumbed().size(), 5u);
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{"/m", "url:http://example.org/x"}));
    EXPECT_TRUE(s.quits());
}

// A replaced file keeps its old contents until the download is complete: a
// cancel or an ending signal leaves it as it was, and no file beside it.
TEST_F(SaveTest, ReplacingDownloadCutShortLeavesTheFileAsItWas) {
    const std::string prompt = "Download to [slow.bin] (^D cancel): ";
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "SIGTERM");
        write_file(in_cwd("slow.bin"), "mine");
        Session& s = start_held_download('9', "/pub/slow.bin", prompt);
        ASSERT_SCREEN(s, prompting(s, "File slow.bin exists. Replace it? (y/N): "));
        s.keys("y");
        ASSERT_SCREEN(s, s.status().rfind("15 bytes (z cancels)", 0) == 0);
        EXPECT_EQ(read_file(in_cwd("slow.bin")), "mine");
        if (cancel) {
            s.keys("z");
            ASSERT_SCREEN(s, s.redrawn() && s.status() == "Fetch cancelled");
            EXPECT_TRUE(s.quits());
        } else {
            s.run().signal(SIGTERM);
            ASSERT_TRUE(s.run().wait_exit()) << s.dump();
            EXPECT_EQ(s.run().status().code, 143) << s.dump();
        }
        EXPECT_EQ(entries(cwd()), std::vector<std::string>{"slow.bin"});
        EXPECT_EQ(read_file(in_cwd("slow.bin")), "mine");
    }
}

// What is at a typed name and is no regular file is written where it is,
// never unlinked, never waited for, and never read again as the item's
// copy; a symbolic link is replaced, not written through.
TEST_F(SaveTest, DestinationsThatAreNoFilesSurviveTheSave) {
    const std::string data = payload(3);
    server_.on("/pub/a.bin", Script::send(data));
    ASSERT_EQ(mkfifo(in_cwd("fifo").c_str(), 0600), 0);
    write_file(dir_.file("victim"), "keep");
    fs::create_symlink(dir_.file("victim"), in_cwd("link"));
    Session& s = start_on(line('9', "A binary", "/pub/a.bin"));
    const std::string save_prompt = "Download to [a.bin] (^D cancel): ";

    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, save_prompt));
    s.keys("fifo\r");
    ASSERT_SCREEN(s, prompting(s, "File fifo exists. Replace it? (y/N): "));
    s.keys("y");
    ASSERT_SCREEN(s, s.status().rfind("Can't open destination file fifo: No such device or "
                                      "address [Press a key",
                                      0) == 0);
    s.keys(" ");
    ASSERT_SCREEN(s, back_on_page(s, 0));
    EXPECT_TRUE(fs::is_fifo(in_cwd("fifo")));

    // Saved to /dev/null, but no copy to read again: the save to the link
    // fetches.
    for (const std::string target : {"/dev/null", "link"}) {
        s.keys("\r");
        ASSERT_SCREEN(s, prompting(s, save_prompt));
        s.keys(target + "\r");
        ASSERT_SCREEN(s, prompting(s, "File " + target + " exists. Replace it? (y/N): "));
        s.keys("y");
        ASSERT_TRUE(saved_and_back(s, data.size(), target, 0)) << s.dump();
    }
    EXPECT_FALSE(fs::is_symlink(in_cwd("link")));
    EXPECT_TRUE(read_file(in_cwd("link")) == data);
    EXPECT_EQ(read_file(dir_.file("victim")), "keep");
    EXPECT_EQ(entries(cwd()), (std::vector<std::string>{"fifo", "link"}));
    EXPECT_EQ(requests_for("/pub/a.bin"), 2u);
    EXPECT_TRUE(s.quits());
}

// A file-size limit makes the write fail, reported like any failed write,
// instead of a signal ending tolm with the terminal raw.
TEST_F(SaveTest, FileSizeLimitIsAReportedFailure) {
    server_.on("/pub/a.bin", Script::send(payload(4)));
    Session& s = start_on(line('9', "A binary", "/pub/a.bin"));
    rlimit fsize{};
    fsize.rlim_cur = fsize.rlim_max = 1000;
    ASSERT_EQ(prlimit(s.run().pid(), RLIMIT_FSIZE, &fsize, nullptr), 0);
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, "Download to [a.bin] (^D cancel): "));
    s.keys("\r");
    ASSERT_SCREEN(s, s.status().rfind(std::string("Error downloading file /pub/a.bin: ") +
                                          strerror(EFBIG) + " [Press a key",
                                      0) == 0);
    s.keys(" ");
    ASSERT_SCREEN(s, back_on_page(s, 0));
    EXPECT_EQ(entries(cwd()), std::vector<std::string>{});
    EXPECT_TRUE(s.quits());
}

TEST_F(SaveTest, SigtermDuringADownloadLeavesNoPrivateDirectory) {
    Session& s =
        start_held_download('I', "/slow.gif", "Download slow.gif to (^D cancel, <empty> plumb): ");
    // The download has begun once the partial file holds the first bytes.
    std::string partial;
    ASSERT_TRUE(s.run().pump_until([&] {
        for (const auto& d : tolm_tmpdirs()) {
            std::error_code ec;
            if (fs::file_size(d + "/slow.gif", ec) == 15 && !ec) partial = d;
        }
        return !partial.empty();
    })) << s.dump();
    s.run().signal(SIGTERM);
    ASSERT_TRUE(s.run().wait_exit()) << s.dump();
    EXPECT_TRUE(s.run().status().exited && s.run().status().code == 143) << s.dump();
    EXPECT_FALSE(fs::exists(partial)) << partial;
    EXPECT_TRUE(s.cooked());
    EXPECT_TRUE(plumbed().empty());
}

} // namespace
