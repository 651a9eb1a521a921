#include "transport/download.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "driver/signals.h"
#include "driver/state.h"
#include "items/item.h"
#include "transport/transport.h"

namespace {

int finish(int fd, int result) {
    close(fd);
    return result;
}

} // namespace

int download_item(const Item* item, int fd) {
    Connection src;
    if (item->extra) {
        src.fd = open(item->extra.get(), O_RDONLY | O_CLOEXEC);
        if (src.fd < 0) {
            // Through show_status like every other message: filtered on the
            // status row, and in batch mode on standard error, where it
            // cannot mix with the copied bytes or reach the terminal raw.
            show_status("Can't open source file %s: %s", item->extra.get(), strerror(errno));
            errno = 0;
            return finish(fd, 0);
        }
    } else {
        if (connect_server(item->host, item->port, &src) < 0) return finish(fd, 0);
        if (send_selector(&src, item->selector) == -1) {
            transport->close(&src);
            return finish(fd, 0);
        }
    }

    char buf[1024];
    ssize_t r;
    bool write_failed = false;
    while (!write_failed && (r = transport->read(&src, buf, sizeof buf)) > 0) {
        write_failed = write_all(fd, buf, static_cast<size_t>(r), Wait::on_block) < 0;
    }
    bool ok = !write_failed && r == 0;
    if (!ok) {
        show_status("Error downloading file %s: %s", item->selector ? item->selector : "",
                    strerror(errno));
        errno = 0;
    }
    int result = finish(fd, ok ? 1 : 0);
    transport->close(&src);
    return result;
}
