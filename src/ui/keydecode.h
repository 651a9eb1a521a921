// The key decoder, apart from the key loop: bytes in, commands out.
#pragma once

#include <cstddef>

// The longest key, in bytes: the decoder holds a sequence up to this long.
inline constexpr size_t max_key_length = 8;

// The page commands; key_table (ui/keys.h) gives their keys and what each
// does.
enum class Command {
    none, // ignored, or a byte swallowed by an escape sequence
    quit,
    open,
    back,
    help,
    down,
    up,
    page_down,
    page_up,
    home,
    end,
    next_link,
    prev_link,
    search,
    search_next,
    search_prev,
    page_uri,
    item_uri,
    yank_page,
    yank_item,
    go_to_url,
    reload,
    bookmark_item,
    bookmark_page,
    bookmarks,
    remove_bookmark,
    cancel_fetch, // acts only while a fetch runs; on a page it does nothing
};

// Decodes the keys of key_table (ui/keys.h), escape sequences included:
// "ESC [" and "ESC O" alike; a byte that continues no key ends the
// sequence and is swallowed. No timeout: a sequence waits for its next byte.
class KeyDecoder {
  public:
    // The command whose key c completes, or Command::none.
    Command feed(unsigned char c);

  private:
    char typed_[max_key_length]; // the sequence so far, from its ESC
    size_t length_ = 0;
};
