#include "actions/bookmarks.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "driver/signals.h"
#include "driver/state.h"
#include "items/item.h"
#include "items/menu.h"
#include "items/uri.h"

namespace {

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

enum class Read { ok, missing, failed };

// The whole file, NUL-terminated, in *text (which the caller owns).
Read read_file(const std::string& path, CText* text, size_t* size) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Read::missing : Read::failed;
    size_t cap = 4096, len = 0;
    char* buf = static_cast<char*>(alloc_or_die(cap));
    for (;;) {
        if (len + 1 == cap) buf = static_cast<char*>(resize_array_or_die(buf, cap *= 2, 1));
        ssize_t r = read_fd(fd, buf + len, cap - len - 1);
        if (r < 0) {
            int saved = errno;
            free(buf);
            close(fd);
            errno = saved;
            return Read::failed;
        }
        if (r == 0) break;
        len += static_cast<size_t>(r);
    }
    close(fd);
    buf[len] = '\0';
    text->reset(buf);
    *size = len;
    return Read::ok;
}

bool same(const char* a, const char* b) {
    return (!a && !b) || (a && b && strcmp(a, b) == 0);
}

bool same_item(const Item& a, const Item& b) {
    return a.type == b.type && same(a.selector, b.selector) && same(a.host, b.host) &&
           same(a.port, b.port);
}

// The lines of text, each with its newline; text after the last newline
// is no line.
struct Lines {
    std::vector<std::string> lines;
};

Lines split_lines(const char* text, size_t size) {
    Lines out;
    size_t start = 0;
    for (size_t i = 0; i < size; i++) {
        if (text[i] == '\n') {
            out.lines.emplace_back(text + start, i + 1 - start);
            start = i + 1;
        }
    }
    return out;
}

// One line parsed as a menu line: the item it gives, its strings owned by
// the holder.
struct ParsedLine {
    Item holder;
    const Item* item() const { return holder.dir ? &holder.dir->items[0] : nullptr; }
};

void parse_line(const std::string& line, ParsedLine* out) {
    out->holder.raw.reset(strdup_or_die(line.c_str()));
    // A line holds its newline, so it always parses.
    (void)parse_menu(&out->holder);
}

bool write_all_to(int fd, const std::string& text) {
    return write_all(fd, text.data(), text.size()) == 0;
}

void report_write_failure(const std::string& path) {
    show_status("Can't write bookmarks %s: %s", path.c_str(), strerror(errno));
    errno = 0;
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
    const std::string path = bookmarks_path();
    if (path.empty()) {
        show_status("No place for bookmarks: set XDG_DATA_HOME or HOME");
        return;
    }
    CText text;
    size_t size = 0;
    Read read = read_file(path, &text, &size);
    if (read == Read::failed) {
        show_status("Can't read bookmarks %s: %s", path.c_str(), strerror(errno));
        errno = 0;
        return;
    }
    std::string record = line;
    if (read == Read::ok) {
        ParsedLine mine;
        parse_line(line, &mine);
        Lines lines = split_lines(text.get(), size);
        for (const std::string& l : lines.lines) {
            ParsedLine parsed;
            parse_line(l, &parsed);
            if (parsed.item() && parsed.item()->type && same_item(*parsed.item(), *mine.item())) {
                show_status("Already in the bookmarks");
                return;
            }
        }
        // A hand-edited file may lack its last line end: the new line must
        // not run into that one.
        if (size > 0 && text.get()[size - 1] != '\n') record = "\r\n" + record;
    } else if (!make_parent_dirs(path)) {
        report_write_failure(path);
        return;
    }
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        report_write_failure(path);
        return;
    }
    // One write of the whole line; should the disk take only part of it,
    // the part goes again, so the file never ends in half a line.
    struct stat before;
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
        return;
    }
    show_status("Bookmarked \"%s\"", stored_display(item).c_str());
}

bool load_bookmarks(Item* page) {
    const std::string path = bookmarks_path();
    CText text;
    size_t size = 0;
    Read read = path.empty() ? Read::missing : read_file(path, &text, &size);
    if (read == Read::failed) {
        show_status("Can't read bookmarks %s: %s", path.c_str(), strerror(errno));
        errno = 0;
        return false;
    }
    if (read == Read::missing || !memchr(text.get(), '\n', size)) {
        show_status("No bookmarks yet: 'a' adds the highlighted item, 'A' the page");
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
    const Item& shown = page.dir->items[index];
    const std::string path = bookmarks_path();
    CText text;
    size_t size = 0;
    if (path.empty() || read_file(path, &text, &size) != Read::ok) {
        show_status("Can't read bookmarks %s: %s", path.c_str(), strerror(errno));
        errno = 0;
        return false;
    }
    // The page holds the lines before a NUL, as the parser counts them;
    // whatever follows them is kept as it is.
    Lines lines = split_lines(text.get(), strnlen(text.get(), size));
    size_t kept = 0;
    for (const std::string& l : lines.lines)
        kept += l.size();
    ParsedLine parsed;
    if (lines.lines.size() == page.dir->count) parse_line(lines.lines[index], &parsed);
    const Item* now = parsed.item();
    if (!now || !same_item(*now, shown) || !same(now->display, shown.display)) {
        show_status("The bookmarks file changed meanwhile: nothing removed");
        return false;
    }
    std::string rest;
    for (size_t i = 0; i < lines.lines.size(); i++)
        if (i != index) rest += lines.lines[i];
    rest.append(text.get() + kept, size - kept);

    // The new contents go to a file of their own in the same directory,
    // renamed over the old one: a crash, a full disk or a signal at any
    // moment leaves the old file or the new one, whole.
    std::string tmp = path + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        report_write_failure(path);
        return false;
    }
    bool ok = write_all_to(fd, rest) && fsync(fd) == 0;
    int saved = errno;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        if (ok) saved = errno;
        unlink(tmp.c_str());
        errno = saved;
        report_write_failure(path);
        return false;
    }
    return true;
}
