// The bookmarks file as a file: read whole when it is a regular file of a
// sane size, and changed under a lock beside it, through its symbolic
// links, by an append of one line or by a replacement written beside it.
// Results: true or FileRead::ok on success; every failure but a missing
// file is reported here.
#pragma once

#include <cstddef>
#include <string>

#include "driver/process/ctext.h"

enum class FileRead { ok, missing, failed };

// The whole file at path, NUL-terminated, in *text (owned by the caller)
// and its length in *size: a regular file of at most 64 MiB only, opened
// without waiting (a FIFO or a device is refused).
[[nodiscard]] FileRead read_bookmarks_file(const std::string& path, CText* text, size_t* size);

// "Can't read bookmarks PATH: <errno text>"; errno is reset.
void report_read_failure(const std::string& path);

// The file path names once the symbolic links of its last component are
// followed, whether or not that file exists.
[[nodiscard]] std::string follow_links(const std::string& path);

// The exclusive lock every change of the bookmarks file holds, on a file
// of its own beside it (PATH.lock): the bookmarks file itself is replaced
// by a rename, and a lock on the old one would not hold off a run that
// opens the new one. Released when the object goes, or before any message
// of this module is shown: a message waits for its key, and another run
// must not wait on a person reading it. One lock is held at a time.
class FileLock {
  public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock for path, waiting a bounded time (3 s) for another
    // holder; false after reporting.
    [[nodiscard]] bool take(const std::string& path);
    // Lets the lock go; the change it guarded is over.
    void release();

  private:
    int fd_ = -1;
};

// For a change of the file at path: its links followed into *target, its
// directories made (mode 0700) and its lock taken. A file there that is not
// a regular one is refused before the lock, whose file would otherwise be
// made beside a device.
[[nodiscard]] bool prepare_change(const std::string& path, FileLock* lock, std::string* target);

// Writes contents as the new file at path (mode 0600): beside it, then
// renamed over it.
[[nodiscard]] bool replace_bookmarks_file(const std::string& path, const std::string& contents);

// Appends record to the file at path (created, mode 0600) with one write;
// a part written alone is taken back, so the file never ends in half a line.
[[nodiscard]] bool append_to_bookmarks_file(const std::string& path, const std::string& record);
