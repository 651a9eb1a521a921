// The key bindings, apart from the key loop: bytes in, commands out.
#pragma once

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
};

// Decodes single keys and the cursor-key escape sequences ("ESC [" and
// "ESC O" alike); a byte that does not continue a sequence ends it and is
// swallowed. No timeout: a sequence waits for its next byte.
class KeyDecoder {
  public:
    Command feed(unsigned char c);

  private:
    int state_ = 0; // 0 plain, 1 after ESC, 2 after ESC [, 3 after ESC [ digit
    unsigned char digit_ = 0;
};
