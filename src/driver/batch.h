// Batch mode: act once on the root item and write it to standard output.
#pragma once

struct Item;

// Prints a text, lists a menu, copies a file or reports the type; then
// ends the process (status 0, or 128 + signal).
[[noreturn]] void run_batch(Item* root);
