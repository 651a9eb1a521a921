// Saving items to files and handing them, or their URIs, to the plumber.
// Results: none but save_any_item's, whether it acted; every outcome is
// reported on the status row (a save to a typed path, once complete, says
// where it went and how much), and a file saved is kept in the item's
// extra.
#pragma once

struct Item;

// Types '4', '5', '6', '9': asks for a path (empty: the default name) and
// downloads the item there, or does nothing when it already is the file.
void save_item(Item* item);
// 's', on any type: asks for a path as save_item does and saves the
// item's data there: a text as batch mode writes it (not yet viewed, it is
// fetched and kept, its parent set to opener, as viewing it would), a menu
// or search result as its server sends it, any file as save_item saves
// it. False, having done and said nothing, for an item without data (an
// information or error line, telnet, tn3270, a "URL:" link, a search
// without its query, a line without fields).
[[nodiscard]] bool save_any_item(Item* opener, Item* item);
// 'I', 'g' and other file types: as save_item for a typed path; an empty
// answer downloads into the temporary directory (once) and plumbs the file.
void save_and_plumb_item(Item* item);
// '8' and 'T': plumbs the telnet:// or tn3270:// URI.
void remote_login_item(Item* item);
// 'h' with "URL:": plumbs the URL after the prefix.
void link_item(Item* item);
