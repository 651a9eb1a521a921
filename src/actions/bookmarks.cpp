#include "actions/bookmarks.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "actions/replace.h"
#include "driver/process/alloc.h"
#include "driver/process/signals.h"
#include "driver/process/state.h"
#include "driver/process/wait.h"
#include "items/item.h"
#include "items/menu.h"
#include "items/uri.h"

namespace {

// A file larger than any list of bookmarks a person keeps: beyond it the
// file is refused rather than read into memory.
constexpr off_t max_file_size = off_t{64} << 20;

// As many links as the system itself follows before it gives up (ELOOP).
constexpr int max_link_hops = 40;

// How long a change waits for another run of tolm to finish its own, which
// takes milliseconds; one that stopped while holding the lock (a suspended
// process) must not stop this one too.
constexpr long lock_wait_ms = 3000;
constexpr long longest_nap_ms = 16;

bool has_line_break_or_tab(const char* text) {
    return strpbrk(text, "\t\r\n") != nullptr;
}

bool is_control(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

// Creates each missing directory of path's parent, mode 0700.
bool make_parent_dirs(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

// The file path names once the symbolic links of its last component are
// followed, whether or not that file exists: the rename that replaces it
// must happen beside the file, not over the link. A link that cannot be
// read ends the walk there.
std::string follow_links(const std::string& path) {
    std::string target = path;
    for (int hop = 0; hop < max_link_hops; hop++) {
        struct stat st {};
        if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string link(PATH_MAX, '\0');
        ssize_t n = readlink(target.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<size_t>(n) >= link.size()) break;
        link.resize(static_cast<size_t>(n));
        size_t slash = target.rfind('/');
        if (link[0] != '/' && slash != std::string::npos) link.insert(0, target, 0, slash + 1);
        target = link;
    }
    return target;
}

void report_not_regular(const std::string& path) {
    show_status("Bookmarks %s is not a regular file", path.c_str());
}

void report_too_large(const std::string& path) {
    show_status("Bookmarks %s is larger than 64 MiB", path.c_str());
}

void report_read_failure(const std::string& path) {
    show_status("Can't read bookmarks %s: %s", path.c_str(), strerror(errno));
    errno = 0;
}

void report_write_failure(const std::string& path) {
    show_status("Can't write bookmarks %s: %s", path.c_str(), strerror(errno));
    errno = 0;
}

enum class Read { ok, missing, failed };

// The whole file, NUL-terminated, in *text (which the caller owns). Every
// failure but a missing file is reported here.
Read read_file(const std::string& path, CText* text, size_t* size) {
    // A FIFO would hold the open until a writer came: opened without
    // waiting, it is refused with every other kind of file but a regular one.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return Read::missing;
        report_read_failure(path);
        return Read::failed;
    }
    struct stat st {};
    bool stated = fstat(fd, &st) == 0;
    if (!stated)
        report_read_failure(path);
    else if (!S_ISREG(st.st_mode))
        report_not_regular(path);
    else if (st.st_size > max_file_size)
        report_too_large(path);
    if (!stated || !S_ISREG(st.st_mode) || st.st_size > max_file_size) {
        close(fd);
        return Read::failed;
    }
    // Room for the whole file and the byte that tells it grew past the
    // limit since fstat.
    size_t cap = static_cast<size_t>(st.st_size) + 2;
    size_t len = 0;
    char* buf = static_cast<char*>(alloc_or_die(cap));
    for (;;) {
        if (len + 1 == cap) {
            if (cap > static_cast<size_t>(max_file_size)) break;
            buf = static_cast<char*>(resize_array_or_die(buf, cap * 2, 1));
            cap *= 2;
        }
        ssize_t r = read_fd(fd, buf + len, cap - len - 1);
        if (r < 0) {
            report_read_failure(path);
            free(buf);
            close(fd);
            return Read::failed;
        }
        if (r == 0) break;
        len += static_cast<size_t>(r);
    }
    close(fd);
    if (len > static_cast<size_t>(max_file_size)) {
        free(buf);
        report_too_large(path);
        return Read::failed;
    }
    buf[len] = '\0';
    text->reset(buf);
    *size = len;
    return Read::ok;
}

// The exclusive lock that every change of the bookmarks file holds, on a
// file of its own beside it: the bookmarks file itself is replaced by a
// rename, and a lock on the old one would not hold off a run that opens
// the new one. Released when the object goes.
class FileLock {
  public:
    FileLock() = default;
    ~FileLock() {
        if (fd_ >= 0) close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock for path, waiting a bounded time for another holder;
    // false after reporting.
    [[nodiscard]] bool take(const std::string& path);

  private:
    int fd_ = -1;
};

bool FileLock::take(const std::string& path) {
    const std::string name = path + ".lock";
    fd_ = open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        show_status("Can't lock bookmarks %s: %s", name.c_str(), strerror(errno));
        errno = 0;
        return false;
    }
    // Never a blocking flock: short naps between tries, each ended early
    // by a signal, and the signals dealt with between them, so that an
    // ending signal still ends the program at once.
    long waited_ms = 0;
    for (long nap_ms = 1;; nap_ms = nap_ms * 2 < longest_nap_ms ? nap_ms * 2 : longest_nap_ms) {
        if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (waited_ms >= lock_wait_ms) {
            show_status("Can't lock bookmarks %s: another tolm holds it", name.c_str());
            errno = 0;
            return false;
        }
        handle_pending_signals();
        const timespec nap{0, nap_ms * 1'000'000};
        nanosleep(&nap, nullptr);
        waited_ms += nap_ms;
    }
    show_status("Can't lock bookmarks %s: %s", name.c_str(), strerror(errno));
    errno = 0;
    return false;
}

// The file to change, its links followed, in *target, and its lock taken;
// false after reporting. A file that is not a regular one is refused
// before the lock, whose file would otherwise be made beside a device (in
// /dev).
bool prepare_change(FileLock* lock, std::string* target) {
    const std::string path = bookmarks_path();
    if (path.empty()) {
        show_status("No place for bookmarks: set XDG_DATA_HOME or HOME");
        return false;
    }
    *target = follow_links(path);
    struct stat st {};
    if (stat(target->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        report_not_regular(*target);
        return false;
    }
    if (!make_parent_dirs(*target)) {
        report_write_failure(*target);
        return false;
    }
    return lock->take(*target);
}

bool same(const char* a, const char* b) {
    return (!a && !b) || (a && b && strcmp(a, b) == 0);
}

bool same_item(const Item& a, const Item& b) {
    return a.type == b.type && same(a.selector, b.selector) && same(a.host, b.host) &&
           same(a.port, b.port);
}

// Where the lines of the visible part end: after its last newline. What
// follows is no line (text without a line end, or the line a NUL cut).
size_t lines_end(const char* text, size_t visible) {
    while (visible > 0 && text[visible - 1] != '\n')
        visible--;
    return visible;
}

// The menu the first size bytes of text make, in *menu (no dir when they
// hold no line).
void parse_copy(const char* text, size_t size, Item* menu) {
    if (!memchr(text, '\n', size)) return;
    char* copy = static_cast<char*>(alloc_or_die(size + 1));
    memcpy(copy, text, size);
    copy[size] = '\0';
    menu->raw.reset(copy);
    // There is a newline, so it parses.
    (void)parse_menu(menu);
}

// The offset of line index in text, whose visible part holds more lines.
size_t line_offset(const char* text, size_t index) {
    size_t at = 0;
    for (size_t i = 0; i < index; i++)
        at = static_cast<size_t>(strchr(text + at, '\n') - text) + 1;
    return at;
}

bool replace_file(const std::string& path, const std::string& contents) {
    Replacement file;
    if (!file.open(path.c_str(), 0600) ||
        write_all(file.fd(), contents.data(), contents.size()) != 0 || !file.commit()) {
        report_write_failure(path);
        return false;
    }
    return true;
}

// Appends record with one write; should the disk take only part of it,
// the part goes again, so the file never ends in half a line.
bool append_file(const std::string& path, const std::string& record) {
    int fd =
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        report_write_failure(path);
        return false;
    }
    struct stat before {};
    bool sized = fstat(fd, &before) == 0;
    ssize_t w = write(fd, record.data(), record.size());
    bool whole = w == static_cast<ssize_t>(record.size());
    if (!whole && w >= 0) errno = ENOSPC;
    int saved = errno;
    if (!whole && w > 0 && sized) (void)!ftruncate(fd, before.st_size);
    if (close(fd) != 0 && whole) {
        whole = false;
        saved = errno;
    }
    if (!whole) {
        errno = saved;
        report_write_failure(path);
    }
    return whole;
}

// The display a bookmark is stored with: shown on the bookmarks page and
// so free of control characters, whatever a server put in it.
std::string stored_display(const Item& item) {
    std::string display = item.display && *item.display ? item.display : item_uri(item);
    for (char& c : display)
        if (is_control(c)) c = ' ';
    return display;
}

} // namespace

std::string bookmarks_path() {
    const char* data = getenv("XDG_DATA_HOME");
    if (data && *data == '/') return std::string(data) + "/tolm/bookmarks";
    const char* home = getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/share/tolm/bookmarks";
    return "";
}

std::string bookmark_line(const Item& item) {
    // A '+' line stands for the item it mirrors: alone in the bookmarks it
    // must open as that, not as a download.
    const char type = effective_type(item);
    if (!type || type == 'i' || !item.selector || !item.host || !item.port) return "";
    if (has_line_break_or_tab(item.selector) || has_line_break_or_tab(item.host) ||
        has_line_break_or_tab(item.port) || strchr("\t\r\n", type))
        return "";
    std::string line(1, type);
    line += stored_display(item);
    line += '\t';
    line += item.selector;
    line += '\t';
    line += item.host;
    line += '\t';
    line += item.port;
    line += "\r\n";
    return line;
}

void add_bookmark(const Item& item) {
    const std::string line = bookmark_line(item);
    if (line.empty()) {
        show_status("Can't bookmark this item");
        return;
    }
    // The check for the same line and the change that follows it are one
    // step for any other run of tolm.
    FileLock lock;
    std::string target;
    if (!prepare_change(&lock, &target)) return;
    CText text;
    size_t size = 0;
    Read read = read_file(target, &text, &size);
    if (read == Read::failed) return;

    Item mine;
    parse_copy(line.data(), line.size(), &mine);
    size_t visible = read == Read::ok ? strnlen(text.get(), size) : 0;
    Item menu;
    if (visible > 0) parse_copy(text.get(), visible, &menu);
    for (uint64_t i = 0; menu.dir && i < menu.dir->count; i++) {
        if (same_item(menu.dir->items[i], mine.dir->items[0])) {
            show_status("Already in the bookmarks");
            return;
        }
    }
    bool written = false;
    if (visible < size) {
        // Appended after a NUL the line would never be shown: it goes
        // after the last line before the NUL, and the rest stays as it is.
        size_t end = lines_end(text.get(), visible);
        std::string contents(text.get(), end);
        contents += line;
        contents.append(text.get() + end, size - end);
        written = replace_file(target, contents);
    } else {
        // A hand-edited file may lack its last line end: the new line must
        // not run into that one.
        bool unended = size > 0 && text.get()[size - 1] != '\n';
        written = append_file(target, unended ? "\r\n" + line : line);
    }
    if (written) show_status("Bookmarked \"%s\"", stored_display(item).c_str());
}

bool load_bookmarks(Item* page) {
    const std::string path = bookmarks_path();
    CText text;
    size_t size = 0;
    Read read = path.empty() ? Read::missing : read_file(follow_links(path), &text, &size);
    if (read == Read::failed) return false;
    if (read == Read::missing || !memchr(text.get(), '\n', strnlen(text.get(), size))) {
        show_status("No bookmarks yet: 'a' adds the highlighted item, 'm' the page");
        return false;
    }
    release_item(page);
    page->raw = std::move(text);
    // The parser's result is the page's type, which the caller may not
    // have set yet: whether a menu was built is what counts.
    (void)parse_menu(page);
    return page->dir != nullptr;
}

bool remove_bookmark(const Item& page, size_t index) {
    if (!page.dir || index >= page.dir->count) return false;
    FileLock lock;
    std::string target;
    if (!prepare_change(&lock, &target)) return false;
    CText text;
    size_t size = 0;
    Read read = read_file(target, &text, &size);
    if (read == Read::missing) {
        errno = ENOENT;
        report_read_failure(target);
    }
    if (read != Read::ok) return false;

    // The line to remove is still the one shown when every line up to it
    // is: lines added since (at the end) do not matter.
    Item now;
    parse_copy(text.get(), strnlen(text.get(), size), &now);
    bool unchanged = now.dir && index < now.dir->count;
    for (size_t i = 0; unchanged && i <= index; i++) {
        const Item& shown = page.dir->items[i];
        const Item& there = now.dir->items[i];
        unchanged = same_item(there, shown) && same(there.display, shown.display);
    }
    if (!unchanged) {
        show_status("The bookmarks file changed meanwhile: nothing removed");
        return false;
    }
    // Whatever follows the lines (text after a NUL, a last line without
    // its end) is kept as it is.
    size_t start = line_offset(text.get(), index);
    size_t end = line_offset(text.get() + start, 1) + start;
    std::string rest(text.get(), start);
    rest.append(text.get() + end, size - end);
    return replace_file(target, rest);
}
