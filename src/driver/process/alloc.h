// Allocation that never fails: exhausted memory ends the program through
// die(). Also the heap's settings for menus that arrive. Part of the
// process layer.
// Results: owning pointers, never nullptr (but for a resize to 0).
#pragma once

#include <cstddef>

// Allocation that ends the program through die() instead of failing. The
// caller owns the result and frees it with free().
[[nodiscard]] void* alloc_or_die(size_t size);
[[nodiscard]] char* strdup_or_die(const char* text);
// Resizes block to count elements of size bytes; count 0 frees it and
// returns nullptr; a product beyond 64 bits dies with "realloc: overflow".
// The result replaces block, which must not be used again.
[[nodiscard]] void* resize_array_or_die(void* block, size_t count, size_t size);

// While one lives, a block growing one element at a time through
// resize_array_or_die is a menu's text: what its items will need (its
// lines so far times item_bytes, at most the text's size) is made present
// past its end, where they will be allocated once it is complete. A hint;
// nothing changes where the system cannot make memory present.
class MenuArriving {
  public:
    explicit MenuArriving(size_t item_bytes);
    ~MenuArriving();
    MenuArriving(const MenuArriving&) = delete;
    MenuArriving& operator=(const MenuArriving&) = delete;

  private:
    bool before_;
};

// The new-handler: once more memory may be had (a menu's larger heap pad
// given up) it returns for another try; else it dies with
// "malloc: <ENOMEM text>".
void out_of_memory();

// Hands memory freed by a large release back to the system, which an
// allocator may keep for later use otherwise. A hint.
void give_back_memory();
