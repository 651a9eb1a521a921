// Saving items to files and handing them, or their URIs, to the plumber.
#pragma once

struct Item;

int save_item(Item* item);           // types '4', '5', '6', '9'
int save_and_plumb_item(Item* item); // 'I', 'g' and other file types
int remote_login_item(Item* item);   // '8' and 'T'
int link_item(Item* item);           // 'h' with "URL:"
