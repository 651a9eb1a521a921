#include "actions/save.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "actions/external.h"
#include "actions/replace.h"
#include "driver/process/alloc.h"
#include "driver/process/state.h"
#include "driver/process/wait.h"
#include "items/item.h"
#include "items/uri.h"
#include "transport/download.h"
#include "transport/transport.h"
#include "ui/fitted.h"
#include "ui/status.h"

namespace {

// Saved files are the user's to read and write, the group's to read.
constexpr mode_t file_mode = 0640;
// How many numbered names a file in the temporary directory may try.
constexpr unsigned max_tmp_names = 10000;

// The text after the selector's last '/', with every character the prompt
// would not show replaced by '_': the file gets the name the user saw, not
// one holding a CR or an escape sequence.
std::string default_name(const Item& item) {
    const char* slash = strrchr(item.selector, '/');
    const char* name = slash ? slash + 1 : item.selector;
    std::string out;
    size_t left = strlen(name);
    mbstate_t state{};
    while (left > 0) {
        wchar_t wc;
        size_t n = mbrtowc(&wc, name, left, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
            // Undecodable: shown as a replacement character, kept as it is.
            state = mbstate_t{};
            out += *name++;
            left--;
            continue;
        }
        if (hidden_char(wc))
            out += '_';
        else
            out.append(name, n);
        name += n;
        left -= n;
    }
    return out;
}

// Forgets the remembered file once it can no longer be read.
void forget_unreadable(Item* item) {
    if (item->extra && access(item->extra.get(), R_OK) != 0) item->extra.reset();
}

// True when path already is the remembered file, by name or by identity:
// truncating it to copy it onto itself would destroy the only copy.
bool is_remembered(const Item& item, const char* path) {
    if (!item.extra) return false;
    if (strcmp(item.extra.get(), path) == 0) return true;
    struct stat a, b;
    return stat(item.extra.get(), &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

void report_open_failure(const char* path) {
    show_status("Can't open destination file %s: %s", path, strerror(errno));
    errno = 0;
}

// Where one save writes: a new file renamed over the name once complete,
// or a descriptor of its own for what is written where it is.
struct Destination {
    Replacement replacement;
    int in_place = -1;

    Destination() = default;
    ~Destination() {
        if (in_place >= 0) close(in_place);
    }
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    int fd() const { return replacement.active() ? replacement.fd() : in_place; }
};

// Opens the destination of a download into path; false when reported, or
// declined by the user. A file that is already there is replaced only when
// the user says so: the name may be one the server chose, such as .bashrc.
// A regular file, new or replaced, and a symbolic link are written through
// a replacement, so that until the download completes the name keeps what
// it had. A node of another kind (a FIFO, a device) is written where it is
// and never unlinked; it must not hold tolm in the open, so the open does
// not wait for a reader.
bool open_destination(const char* path, Destination* to) {
    struct stat st {};
    const bool exists = lstat(path, &st) == 0;
    if (exists) {
        if (!S_ISDIR(st.st_mode) && !ask_yes("File %s exists. Replace it? (y/N): ", path))
            return false;
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            // A directory fails here with its own error.
            to->in_place = open(path, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
            if (to->in_place >= 0) return true;
            report_open_failure(path);
            return false;
        }
    } else if (errno != ENOENT) {
        report_open_failure(path);
        return false;
    }
    if (to->replacement.open(path, file_mode)) return true;
    // A file the user may write, in a directory that takes no new file (or
    // one whose owner a new file cannot be given), is written where it is,
    // as it was agreed to be replaced: a cancel or a failure then leaves
    // part of the download in it. Only for a refusal: a full disk must not
    // cost the old contents.
    if (exists && S_ISREG(st.st_mode) && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        to->in_place =
            open(path, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (to->in_place >= 0) return true;
    }
    report_open_failure(path);
    return false;
}

// Writes into path what fill writes into the descriptor it is given: fill
// returns whether it wrote all there is, and counts the bytes it wrote. A
// complete save is confirmed with its path and size. Returns true when it
// is complete in a regular file, the only kind a later save may read again
// as its source (a device gives nothing back, a FIFO waits for a writer).
// A replacement is renamed into place only when complete, and otherwise
// leaves no trace.
template <typename Fill> bool save_to(const char* path, Fill fill) {
    Destination to;
    long long bytes = 0;
    if (!open_destination(path, &to) || !fill(to.fd(), &bytes)) return false;
    bool regular = true;
    if (to.replacement.active()) {
        if (!to.replacement.commit()) {
            show_status("Can't replace %s: %s", path, strerror(errno));
            errno = 0;
            return false;
        }
    } else {
        struct stat st {};
        regular = fstat(to.in_place, &st) == 0 && S_ISREG(st.st_mode);
    }
    show_status("Saved %lld %s to \"%s\"", bytes, bytes == 1 ? "byte" : "bytes", path);
    return regular;
}

// Downloads item into path, which becomes its remembered file when it
// has none and the whole item is there, in a regular file.
void download_to(Item* item, CText path) {
    auto fill = [item](int fd, long long* bytes) { return download_item(item, fd, bytes); };
    if (save_to(path.get(), fill) && !item->extra) item->extra = std::move(path);
}

// The path a save asks for, the default name for an empty answer; nullptr
// when cancelled.
CText ask_path(const std::string& name) {
    CText path(prompt_line("Download to [%s] (^D cancel): ", name.c_str()));
    if (path && !*path) path.reset(strdup_or_die(name.c_str()));
    return path;
}

// What 's' saves of an item, by its type.
enum class Data { none, unsupported, text, menu, file };

Data data_of(const Item& item) {
    switch (effective_type(item)) {
    case 0:
    case 'i':
    case '3':
    case '8':
    case 'T':
        return Data::none;
    case 'h':
        return link_url(item.selector) ? Data::none : Data::text;
    case '0':
        return Data::text;
    case '1':
        return Data::menu;
    case '7':
        // A search has no data before its query.
        return item.extra ? Data::menu : Data::none;
    case '2':
        // A phone book answers queries in a protocol of its own: its
        // selector alone asks for nothing that could be saved.
        return Data::unsupported;
    default:
        // Every other type, also those Enter refuses (a sound, a PDF), is
        // a file that tolm cannot show but can keep.
        return Data::file;
    }
}

// The text as batch mode writes it: up to the end-of-response line, which
// the fetch cut off. A text not viewed yet is fetched as viewing fetches
// it, and kept.
bool write_text(Item* opener, Item* item, int fd, long long* bytes) {
    if (!item->raw) {
        if (!item->parent) item->parent = opener;
        if (!receive_response(item)) return false;
    }
    const size_t n = strlen(item->raw.get());
    if (write_all(fd, item->raw.get(), n, Wait::on_block) < 0) {
        show_status("Error downloading file %s: %s", item->selector, strerror(errno));
        errno = 0;
        return false;
    }
    *bytes = static_cast<long long>(n);
    return true;
}

// A menu or search result as its server sends it, streamed: the page
// parsed from it has been split in place, so its bytes are no longer at
// hand. A search asks with its query.
bool write_menu(const Item& item, int fd, long long* bytes) {
    return download_item(&item, fd, bytes);
}

// "tmpdir/name", or "tmpdir/N-name" for a number N other than 0.
char* tmp_path(const char* name, unsigned n) {
    // Measured, then written: asprintf is outside POSIX.
    auto format = [&](char* buf, size_t size) {
        return n ? snprintf(buf, size, "%s/%u-%s", tmpdir, n, name)
                 : snprintf(buf, size, "%s/%s", tmpdir, name);
    };
    int r = format(nullptr, 0);
    char* path = r < 0 ? nullptr : static_cast<char*>(malloc(static_cast<size_t>(r) + 1));
    if (!path || format(path, static_cast<size_t>(r) + 1) < 0)
        die("Can't generate tmpdir path: %s/%s: %s", tmpdir, name, strerror(errno));
    return path;
}

// A fresh file in the temporary directory that still ends with the
// default name (the opener goes by its extension): two items with the same
// name under different selectors must never share, and so overwrite, a file.
int open_tmp_destination(const char* name, CText* path_out) {
    CText path(tmp_path(name, 0));
    // An empty name, "." or ".." names a directory: the open fails.
    if (!*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        errno = EISDIR;
        report_open_failure(path.get());
        return -1;
    }
    for (unsigned n = 1;; n++) {
        int fd = open(path.get(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, file_mode);
        if (fd >= 0) {
            *path_out = std::move(path);
            return fd;
        }
        if (errno != EEXIST || n > max_tmp_names) {
            report_open_failure(path.get());
            return -1;
        }
        path.reset(tmp_path(name, n));
    }
}

} // namespace

void save_item(Item* item) {
    CText path = ask_path(default_name(*item));
    if (!path) return;
    forget_unreadable(item);
    if (!is_remembered(*item, path.get())) download_to(item, std::move(path));
}

bool save_any_item(Item* opener, Item* item) {
    const Data data = data_of(*item);
    if (data == Data::none) return false;
    if (data == Data::unsupported) {
        const char type = effective_type(*item);
        show_status("Type %c (%s) not supported", type, type_tag(type));
        return true;
    }
    if (data == Data::file) {
        save_item(item);
        return true;
    }
    CText path = ask_path(default_name(*item));
    if (!path) return true;
    if (data == Data::text)
        (void)save_to(path.get(), [&](int fd, long long* bytes) {
            return write_text(opener, item, fd, bytes);
        });
    else
        (void)save_to(path.get(),
                      [&](int fd, long long* bytes) { return write_menu(*item, fd, bytes); });
    return true;
}

void save_and_plumb_item(Item* item) {
    const std::string name = default_name(*item);
    char* answer = prompt_line("Download %s to (^D cancel, <empty> plumb): ", name.c_str());
    if (!answer) return;
    CText owned_answer(answer);
    forget_unreadable(item);

    if (!*answer) {
        if (!item->extra) {
            CText path;
            int fd = open_tmp_destination(name.c_str(), &path);
            if (fd < 0) return;
            bool whole = download_item(item, fd);
            close(fd);
            if (!whole) {
                // A partial file in the temporary directory is nobody's.
                unlink(path.get());
                return;
            }
            item->extra = std::move(path);
        }
        plumb(plumber_program, item->extra.get());
        return;
    }

    if (!is_remembered(*item, answer)) download_to(item, std::move(owned_answer));
}

void remote_login_item(Item* item) {
    plumb(plumber_program, login_uri(*item).c_str());
}

void link_item(Item* item) {
    std::string uri;
    append_uri_text(uri, link_url(item->selector));
    plumb(plumber_program, uri.c_str());
}
