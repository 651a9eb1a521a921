// Files replaced whole: written beside their destination under a fresh
// name and renamed over it only once complete. Until then the destination
// holds what it held (the old file, or nothing), whatever happens: a
// cancel, a failed write, an ending signal. One replacement is under way
// at a time.
// Results: true on success, false with errno set (nothing is reported).
#pragma once

#include <sys/types.h>

#include "driver/process/ctext.h"

class Replacement {
  public:
    Replacement() = default;
    // Not committed: the temporary file goes.
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // Creates a new file (O_CREAT|O_EXCL, mode as given, the umask
    // applying) in the directory of path. When path is a regular file the
    // new one takes its permission bits, and its owner and group where the
    // process may: the owner as root (a failure then fails the open), the
    // group whenever it can be given. false with errno set on failure;
    // nothing is reported.
    [[nodiscard]] bool open(const char* path, mode_t mode);
    // Whether a file is open or written and not yet committed or discarded.
    bool active() const { return destination_ != nullptr; }
    // The open file's descriptor, -1 when not open; it stays the
    // replacement's to sync and close.
    int fd() const { return fd_; }
    // Syncs and closes the descriptor, then renames the file
    // over the destination: a symbolic link there is replaced, never
    // written through. false with errno set when any step fails; the
    // temporary file is then gone and the destination untouched.
    [[nodiscard]] bool commit();

  private:
    void discard();

    int fd_ = -1;
    CText destination_;
};

// Removes the temporary file of a replacement still under way; for the
// exit clean-up, when no destructor will run. Allocation-free; does
// nothing in a forked child.
void remove_unfinished_replacement();
