#include "transport/download.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "driver/process/state.h"
#include "driver/process/wait.h"
#include "items/item.h"
#include "transport/transport.h"

bool download_item(const Item* item, int fd, long long* copied) {
    if (copied) *copied = 0;
    FetchScope fetch(*item);
    Connection src;
    if (has_saved_copy(*item)) {
        src.fd = open(item->extra.get(), O_RDONLY | O_CLOEXEC);
        if (src.fd < 0) {
            // Through show_status like every other message: filtered on the
            // status row, and in batch mode on standard error, where it
            // cannot mix with the copied bytes or reach the terminal raw.
            show_status("Can't open source file %s: %s", item->extra.get(), strerror(errno));
            errno = 0;
            return false;
        }
    } else {
        if (!open_request(item, request_text(*item), &src, fetch)) return false;
    }
    fetch.report(0);

    char buf[1024];
    ssize_t r;
    long long received = 0;
    bool write_failed = false;
    while (!write_failed && (r = transport->read(&src, buf, sizeof buf)) > 0) {
        write_failed = write_all(fd, buf, static_cast<size_t>(r), Wait::on_block) < 0;
        received += r;
        if (copied && !write_failed) *copied = received;
        fetch.report(received);
    }
    bool ok = !write_failed && r == 0;
    // Batch output whose reader has gone away ends quietly, as cat does.
    bool reader_gone = write_failed && errno == EPIPE && !interactive;
    if (!ok && !fetch.cancelled() && !reader_gone) {
        show_status("Error downloading file %s: %s", item->selector ? item->selector : "",
                    strerror(errno));
        errno = 0;
    }
    transport->close(&src);
    return ok;
}
