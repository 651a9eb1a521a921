// Interactive navigation loop.
#pragma once

struct Item;

// Browses from the root item until the user quits; never returns.
[[noreturn]] void navigate(Item* root);

// Interactive set-up (terminal, status-row messages, the resize, suspend
// and yank hooks).
void interactive_setup();
