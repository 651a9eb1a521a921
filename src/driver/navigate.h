// Interactive navigation loop.
#pragma once

struct Item;

// Browses from the root item until the user quits; never returns.
[[noreturn]] void navigate(Item* root);

// Interactive set-up: the terminal, status-row messages, what a resize and
// a suspend run, the commands above the page view (PageCommands), the
// progress and the keys of a fetch.
void interactive_setup();
