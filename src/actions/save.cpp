#include "actions/save.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "actions/external.h"
#include "driver/state.h"
#include "items/item.h"
#include "transport/download.h"
#include "ui/status.h"

namespace {

const char* default_name(const Item& item) {
    const char* slash = strrchr(item.selector, '/');
    return slash ? slash + 1 : item.selector;
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

int open_destination(const char* path, int extra_flags = 0) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | extra_flags, 0640);
    if (fd < 0) {
        show_status("Can't open destination file %s: %s", path, strerror(errno));
        errno = 0;
    }
    return fd;
}

// A fresh file in the temporary directory that still ends with the
// default name (the opener goes by its extension): two items with the same
// name under different selectors must never share, and so overwrite, a file.
int open_tmp_destination(const char* name, char** path_out) {
    char* path = nullptr;
    if (asprintf(&path, "%s/%s", tmpdir, name) < 0)
        die("Can't generate tmpdir path: %s/%s: %s", tmpdir, name, strerror(errno));
    bool plain = !*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
    for (unsigned n = 1; !plain; n++) {
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
        if (fd >= 0 || errno != EEXIST || n > 10000) {
            if (fd < 0) {
                show_status("Can't open destination file %s: %s", path, strerror(errno));
                errno = 0;
                free(path);
                return -1;
            }
            *path_out = path;
            return fd;
        }
        free(path);
        if (asprintf(&path, "%s/%u-%s", tmpdir, n, name) < 0)
            die("Can't generate tmpdir path: %s/%s: %s", tmpdir, name, strerror(errno));
    }
    // An empty name, "." or ".." names the directory itself: the open fails.
    int fd = open_destination(path);
    if (fd < 0) {
        free(path);
        return -1;
    }
    *path_out = path;
    return fd;
}

} // namespace

int save_item(Item* item) {
    const char* name = default_name(*item);
    char* answer = prompt_line("Download to [%s] (^D cancel): ", name);
    if (!answer) return 0;
    CText path(answer);
    if (!*answer) path.reset(strdup_or_die(name));

    forget_unreadable(item);
    if (is_remembered(*item, path.get())) return 0;
    int fd = open_destination(path.get());
    if (fd < 0) return 0;
    if (download_item(item, fd) && !item->extra) item->extra = std::move(path);
    return 0;
}

int save_and_plumb_item(Item* item) {
    const char* name = default_name(*item);
    char* answer = prompt_line("Download %s to (^D cancel, <empty> plumb): ", name);
    if (!answer) return 0;
    CText owned_answer(answer);
    forget_unreadable(item);

    if (!*answer) {
        if (!item->extra) {
            char* path = nullptr;
            int fd = open_tmp_destination(name, &path);
            if (fd < 0) return 0;
            CText tmp_path(path);
            if (!download_item(item, fd)) {
                // A partial file in the temporary directory is nobody's.
                unlink(tmp_path.get());
                return 0;
            }
            item->extra = std::move(tmp_path);
        }
        plumb(plumber_program, item->extra.get());
        return 0;
    }

    if (is_remembered(*item, answer)) return 0;
    int fd = open_destination(answer);
    if (fd < 0) return 0;
    if (download_item(item, fd) && !item->extra) item->extra = std::move(owned_answer);
    return 0;
}

int remote_login_item(Item* item) {
    const char* format = effective_type(*item) == 'T' ? "tn3270://%s%s%s:%s" : "telnet://%s%s%s:%s";
    char* uri = nullptr;
    if (asprintf(&uri, format, item->selector ? item->selector : "", item->selector ? "@" : "",
                 item->host, item->port) < 0)
        return 0;
    plumb(plumber_program, uri);
    free(uri);
    return 0;
}

int link_item(Item* item) {
    plumb(plumber_program, item->selector + 4);
    return 0;
}
