// Heap helpers over the process heap. Blocks are uninitialised.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

// Returns null when the platform has no block to give.
void* heap_alloc(uint32_t size);
void heap_free(void* block);

// Before `block` (of `size` bytes) is filled with `bytes` from a file:
// huge pages where the data fills them, since each is cleared whole at its
// first touch, which costs a small image more than its few small pages.
inline void heap_expect_fill(void* block, uint32_t size, uint64_t bytes) {
  if (PLATFORM_HUGE_PAGE != 0 && size >= PLATFORM_HUGE_PAGE &&
      bytes >= PLATFORM_HUGE_PAGE / 4) {
    platform_prefer_huge_pages(block, size);
  }
}
