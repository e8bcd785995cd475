#include "runtime/heap.h"

#include "platform/platform.h"

void* heap_alloc(uint32_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void heap_free(void* block) { HeapFree(GetProcessHeap(), 0, block); }
