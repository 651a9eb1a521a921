// The URI of an item, as shown on the status row and yanked. No URI carries
// a control byte: those are percent-encoded (%1B), every other byte is
// written as it is.
// Results: format_item_uri counts as snprintf does; reading a URL fails
// with nullptr or false, unreported: the caller says why.
#pragma once

#include <cstddef>
#include <string>

struct Item;

// Writes item's URI into buf (at most size - 1 characters, NUL-terminated).
// Returns the summed full length of the pieces printed. An item without
// fields (type NUL) gets an empty URI.
int format_item_uri(const Item& item, char* buf, size_t size);

// The item's whole URI, however long; empty for an item without fields.
std::string item_uri(const Item& item);

// The telnet:// or tn3270:// URI of an item whose effective type is '8' or
// 'T' (a '+' line plumbed as the remote login it mirrors): the selector as
// the user name with its '@' when there is one, then host and port.
std::string login_uri(const Item& item);

// What names item in a list of items: its display text, or its URI when
// the display is none of its own (absent, empty, or its selector, as for
// the item of a URL).
std::string display_or_uri(const Item& item);

// The query of a search item (selector set): what follows its selector
// and a TAB in extra, else what follows extra's first TAB; "" without one.
// Points into extra.
const char* search_query(const Item& item);

// Appends text to out with its control bytes percent-encoded.
void append_uri_text(std::string& out, const char* text);

// Where the host begins in url: after "gopher://", or at the start when url
// has no "://". nullptr for any other scheme, whose length (the text before
// "://") goes to *scheme_len.
[[nodiscard]] char* after_scheme(char* url, int* scheme_len);

// The URL grammar on rest (the text after the scheme), cutting it in place;
// fills item's type, selector, display, host, port and extra (a search
// query), its strings pointing into rest. Returns false when rest is
// malformed.
[[nodiscard]] bool parse_url(char* rest, Item* item);
