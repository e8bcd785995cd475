#include "converter/header.h"

uint32_t get_u32le(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) |
         static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[3]) << 24;
}

void put_u32le(unsigned char* bytes, uint32_t value) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}

bool is_bim_header(const unsigned char* header) {
  return get_u32le(header + BIM_CHECK_A) == BIM_CHECK_VALUE &&
         get_u32le(header + BIM_CHECK_B) == BIM_CHECK_VALUE;
}

uint32_t bim_heap_start(const unsigned char* bim_header) {
  const uint32_t sum = get_u32le(bim_header + BIM_WORD_0C) +
                       get_u32le(bim_header + BIM_WORD_14) +
                       get_u32le(bim_header + BIM_WORD_1C);
  return (sum + 15) & 0xFFFFFFF0u;
}

uint32_t v_entry(const unsigned char* v_header) {
  return get_u32le(v_header + V_JUMP_DISPLACEMENT) + V_JUMP_END;
}

uint32_t memory_size(uint32_t heap_start, uint32_t heap_size) {
  return (heap_start + heap_size + 0xFFF) & 0xFFFFF000u;
}

void rewrite_header(unsigned char* header, uint32_t heap_size,
                    uint32_t mmarea_size) {
  uint32_t moved[MOVED_WORD_COUNT];
  for (uint32_t i = 0; i < MOVED_WORD_COUNT; ++i) {
    moved[i] = get_u32le(header + MOVED_WORDS[i].bim_offset);
  }
  const uint32_t entry = get_u32le(header + BIM_ENTRY);
  const uint32_t heap_start = bim_heap_start(header);

  put_u32le(header + V_MEMORY_SIZE, memory_size(heap_start, heap_size));
  for (uint32_t i = 0; i < sizeof V_SIGNATURE_BYTES; ++i) {
    header[V_SIGNATURE + i] = static_cast<unsigned char>(V_SIGNATURE_BYTES[i]);
  }
  put_u32le(header + V_MMAREA_SIZE, mmarea_size);
  for (uint32_t i = 0; i < MOVED_WORD_COUNT; ++i) {
    put_u32le(header + MOVED_WORDS[i].v_offset, moved[i]);
  }
  put_u32le(header + V_JUMP, V_JUMP_WORD);
  put_u32le(header + V_JUMP_DISPLACEMENT, entry - V_JUMP_END);
  put_u32le(header + V_HEAP_START, heap_start);
}
