// The text handed to the pager, filtered as it streams: a pager that passes
// bytes raw must not let a server set the title, clear the screen or write
// the clipboard.
#pragma once

#include <climits>
#include <cstddef>
#include <string>

// Drops escape sequences except SGR colours (ESC [ digits and ';' then m),
// C0 controls but TAB, LF, CR and BS, DEL, C1 controls and the characters
// hidden_char drops; passes everything else, undecodable bytes included,
// byte for byte, but for an undecodable byte that, once what lay between
// is dropped, would complete a character it drops. A dropped string
// sequence (OSC, DCS, APC, PM, SOS) ends at a newline too, which passes.
// Outside UTF-8 every byte 0x80-0x9F is dropped, whatever the locale
// decodes it to. Decodes in the LC_CTYPE locale, which must stay the one
// current when the filter was made.
class PagerFilter {
  public:
    PagerFilter();

    // Filters the next len bytes of the text, appending what passes to out.
    // A sequence or a character cut at the end is held for the next call.
    void feed(const char* data, size_t len, std::string& out);
    // Ends the text: appends the bytes still held, an incomplete character
    // as it is, drops an unterminated escape sequence, appends a reset of
    // attributes (ESC [ m) when a colour passed, and starts afresh.
    void finish(std::string& out);

  private:
    enum class State { ground, esc, esc_inter, csi, osc, str };

    void step(unsigned char b, std::string& out);
    void ground(unsigned char b, std::string& out);
    void escape(unsigned char b, std::string& out);
    void csi(unsigned char b, std::string& out);
    void decode(unsigned char b, std::string& out);
    void emit(const char* bytes, size_t n, std::string& out);
    void put(char c, std::string& out);

    State state_ = State::ground;
    bool sgr_ = false;           // the CSI read so far may still be a colour
    std::string params_;         // its parameters while it may
    char pend_[MB_LEN_MAX] = {}; // the input's character read so far
    size_t npend_ = 0;
    char tail_[MB_LEN_MAX] = {}; // the output's, while they may begin one
    size_t ntail_ = 0;
    bool coloured_ = false; // an SGR has passed since the start
    bool eight_bit_;        // a terminal to which 0x80-0x9F are controls
};
