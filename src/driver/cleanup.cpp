#include "driver/cleanup.h"

#include "actions/external.h"
#include "actions/replace.h"
#include "driver/commands.h"
#include "driver/process/state.h"
#include "items/item.h"
#include "transport/resolve.h"
#include "ui/term.h"

Item* root_item = nullptr;

void exit_cleanup() {
    // A batch run opens nothing below its root, so no item owns a file or
    // a sub-page: walking a million-line menu's items only to free them
    // would cost more than the end of the process, which returns the
    // memory anyway. The tree stays reachable from root_item.
    if (interactive) {
        release_item(root_item);
        release_detached_items();
        delete root_item;
        root_item = nullptr;
    }
    // First: the terminal's modes are put back below only once no pager
    // can change them any more, and tolm holds the terminal again.
    end_pager();
    kill_lookup();
    remove_unfinished_replacement();
    remove_tmpdir();
    url_copy.reset();
    // Only the process that set the terminal up puts it back: a child that
    // outlives tolm (a pager ended later) would otherwise clear the screen
    // and reset the modes under the user's shell.
    if (interactive && !in_child) term_restore();
    write_held_fatal_message();
}
