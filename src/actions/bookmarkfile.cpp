#include "actions/bookmarkfile.h"

#include <cerrno>
#include <climits>
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

// The lock held now, released before a message: see FileLock.
FileLock* held = nullptr;

void release_held_lock() {
    int saved = errno;
    if (held) held->release();
    errno = saved;
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

void report_not_regular(const std::string& path) {
    release_held_lock();
    show_status("Bookmarks %s is not a regular file", path.c_str());
}

void report_too_large(const std::string& path) {
    release_held_lock();
    show_status("Bookmarks %s is larger than 64 MiB", path.c_str());
}

void report_write_failure(const std::string& path) {
    release_held_lock();
    show_status("Can't write bookmarks %s: %s", path.c_str(), strerror(errno));
    errno = 0;
}

} // namespace

void report_read_failure(const std::string& path) {
    release_held_lock();
    show_status("Can't read bookmarks %s: %s", path.c_str(), strerror(errno));
    errno = 0;
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

// The whole file, NUL-terminated, in *text (which the caller owns). Every
// failure but a missing file is reported here.
FileRead read_bookmarks_file(const std::string& path, CText* text, size_t* size) {
    // A FIFO would hold the open until a writer came: opened without
    // waiting, it is refused with every other kind of file but a regular one.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return FileRead::missing;
        report_read_failure(path);
        return FileRead::failed;
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
        return FileRead::failed;
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
            return FileRead::failed;
        }
        if (r == 0) break;
        len += static_cast<size_t>(r);
    }
    close(fd);
    if (len > static_cast<size_t>(max_file_size)) {
        free(buf);
        report_too_large(path);
        return FileRead::failed;
    }
    buf[len] = '\0';
    text->reset(buf);
    *size = len;
    return FileRead::ok;
}

FileLock::~FileLock() {
    release();
}

void FileLock::release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (held == this) held = nullptr;
}

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
        if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            held = this;
            return true;
        }
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

bool prepare_change(const std::string& path, FileLock* lock, std::string* target) {
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

bool replace_bookmarks_file(const std::string& path, const std::string& contents) {
    Replacement file;
    if (!file.open(path.c_str(), 0600) ||
        write_all(file.fd(), contents.data(), contents.size()) != 0 || !file.commit()) {
        report_write_failure(path);
        return false;
    }
    return true;
}

// Appends record with one write; should the disk take only part of it,
// the file is cut back to its old size and the append fails, so the file
// never ends in half a line.
bool append_to_bookmarks_file(const std::string& path, const std::string& record) {
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
