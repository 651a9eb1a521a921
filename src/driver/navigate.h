// Interactive navigation loop.
#pragma once

struct Item;

// Browses from the root item until the user quits; never returns.
[[noreturn]] void navigate(Item* root);

// Interactive set-up (terminal, status-row messages, the resize and suspend
// hooks, the hooks of the commands above the page view, the progress and
// the keys of a fetch).
void interactive_setup();
