// Saving items to files and handing them, or their URIs, to the plumber.
// Results: none; every outcome is reported on the status row.
#pragma once

struct Item;

// Each reports its own failures and keeps the file it saved in extra; a
// save to a typed path, once complete, says where it went and how much.

// Types '4', '5', '6', '9': asks for a path (empty: the default name) and
// downloads the item there, or does nothing when it already is the file.
void save_item(Item* item);
// 'I', 'g' and other file types: as save_item for a typed path; an empty
// answer downloads into the temporary directory (once) and plumbs the file.
void save_and_plumb_item(Item* item);
// '8' and 'T': plumbs the telnet:// or tn3270:// URI.
void remote_login_item(Item* item);
// 'h' with "URL:": plumbs the URL after the prefix.
void link_item(Item* item);
