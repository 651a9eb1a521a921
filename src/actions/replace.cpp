#include "actions/replace.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/process/alloc.h"
#include "driver/process/state.h"
#include "driver/process/wait.h"

namespace {

// The temporary file of the replacement under way, "" when there is none:
// a fixed buffer, so that the exit clean-up can remove it without
// allocating, however the process ends.
char pending[PATH_MAX];

// How many fresh names a replacement tries before it gives up.
constexpr int max_tries = 100;

uint64_t next_random() {
    static uint64_t state = 0;
    if (state == 0)
        state = (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(monotonic_ns()) ^
                0x9E3779B97F4A7C15ULL;
    // xorshift64: names need only differ, not be unguessable, since
    // O_EXCL refuses whatever is already there, a planted link included.
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

// "DIR/.tolm-XXXXXXXX.tmp" for path "DIR/NAME", or ".tolm-XXXXXXXX.tmp"
// for a bare name, into pending. false (ENAMETOOLONG) when it does not fit.
bool name_beside(const char* path) {
    const char* slash = strrchr(path, '/');
    int dir_len = slash ? static_cast<int>(slash - path + 1) : 0;
    int n = snprintf(pending, sizeof pending, "%.*s.tolm-%08llx.tmp", dir_len, path,
                     static_cast<unsigned long long>(next_random() & 0xFFFFFFFFULL));
    if (n < 0 || static_cast<size_t>(n) >= sizeof pending) {
        pending[0] = '\0';
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// A replaced file stays what it was to others: who may read or run it, and
// whose it is. Only its permission bits go over: a set-id bit does not
// carry over to new contents, as any write by someone other than root would
// have cleared it. false with errno set when the owner cannot be kept.
bool keep_identity(int fd, const char* path) {
    struct stat old {
    }, now{};
    if (lstat(path, &old) != 0 || !S_ISREG(old.st_mode)) return true;
    if (fstat(fd, &now) != 0) return false;
    if (old.st_uid != now.st_uid && geteuid() == 0) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) return false;
    } else if (old.st_gid != now.st_gid) {
        // A group the user is not in cannot be given, and is no reason to
        // refuse the save.
        (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    return fchmod(fd, old.st_mode & 0777) == 0;
}

} // namespace

Replacement::~Replacement() {
    discard();
}

bool Replacement::open(const char* path, mode_t mode) {
    discard();
    // An empty path names no file, though a name beside it would exist.
    if (!*path) {
        errno = ENOENT;
        return false;
    }
    for (int i = 0; i < max_tries; i++) {
        if (!name_beside(path)) return false;
        fd_ = ::open(pending, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd_ >= 0) {
            destination_.reset(strdup_or_die(path));
            if (keep_identity(fd_, path)) return true;
            int saved = errno;
            discard();
            errno = saved;
            return false;
        }
        if (errno != EEXIST) break;
    }
    pending[0] = '\0';
    return false;
}

bool Replacement::commit() {
    if (!destination_) {
        errno = EBADF;
        return false;
    }
    // The data reaches the disk before the name does: a crash between the
    // two must not leave an empty file under the old name.
    int error = fsync(fd_) == 0 || errno == EINVAL ? 0 : errno;
    if (close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    errno = error;
    if (error == 0 && rename(pending, destination_.get()) == 0) {
        pending[0] = '\0';
        destination_.reset();
        return true;
    }
    int saved = errno;
    discard();
    errno = saved;
    return false;
}

void Replacement::discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (destination_ && pending[0]) unlink(pending);
    pending[0] = '\0';
    destination_.reset();
}

void remove_unfinished_replacement() {
    if (in_child || !pending[0]) return;
    unlink(pending);
    pending[0] = '\0';
}
