#include "driver/cleanup.h"

#include "driver/commands.h"
#include "driver/state.h"
#include "items/item.h"
#include "ui/term.h"

std::unique_ptr<Item> root_item;

void exit_cleanup() {
    release_item(root_item.get());
    release_detached_items();
    remove_tmpdir();
    root_item.reset();
    url_copy.reset();
    // Only the process that set the terminal up puts it back: a child that
    // outlives tolm (a pager ended later) would otherwise clear the screen
    // and reset the modes under the user's shell.
    if (interactive && !in_child) term_restore();
}
