// Program entry: start-up, the URL argument and the choice of mode.
#pragma once

struct Item;

// Runs tolm with its argument vector; never returns.
[[noreturn]] void tolm_main(int argc, char** argv);

// The URL grammar on rest (the text after the scheme inside url_copy),
// cutting it in place. Returns the new root item, owned by the caller, its
// strings pointing into rest; dies with "Can't parse url" before
// allocating anything when rest is malformed.
[[nodiscard]] Item* make_root_item(char* rest);
