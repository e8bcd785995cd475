// Heap helpers over the process heap. Blocks are uninitialised.
#pragma once

#include <stdint.h>

// Returns null when the platform has no block to give.
void* heap_alloc(uint32_t size);
void heap_free(void* block);
