// The 36-byte header of a bim image and of a Tamrisk application file, and
// the rewrite of one into the other. Pure: no I/O, no allocation. Words
// are 32-bit little-endian at any alignment; each is named by its offset
// (word_0c is at 0x0C), and krelt-info lists a moved word by its bim name.
#pragma once

#include <stdint.h>

constexpr uint32_t HEADER_SIZE = 36;
// Both check words of a bim header hold the header's own length.
constexpr uint32_t BIM_CHECK_VALUE = HEADER_SIZE;

// The largest image krelt converts and krelt-info passes: krelt reads into
// a buffer one byte larger, and an image that fills it is too large.
constexpr uint32_t MAX_IMAGE_SIZE = 0x3FFFFF;

// bim header offsets. The words at 0x0C, 0x10 and 0x14 are carried over
// to the Tamrisk header in another order; 0x0C, 0x14 and 0x1C together
// give the heap start. The words at 0x00 and 0x20 are not looked at.
constexpr uint32_t BIM_CHECK_A = 0x04;
constexpr uint32_t BIM_CHECK_B = 0x08;
constexpr uint32_t BIM_WORD_0C = 0x0C;
constexpr uint32_t BIM_WORD_10 = 0x10;
constexpr uint32_t BIM_WORD_14 = 0x14;
constexpr uint32_t BIM_ENTRY = 0x18;  // where execution starts, from byte 0
constexpr uint32_t BIM_WORD_1C = 0x1C;

// Tamrisk application file (.v, hence V_) header offsets.
constexpr uint32_t V_MEMORY_SIZE = 0x00;  // what the loader reserves
constexpr uint32_t V_SIGNATURE = 0x04;    // V_SIGNATURE_BYTES
constexpr uint32_t V_MMAREA_SIZE = 0x08;  // the argument, unchanged
constexpr uint32_t V_WORD_0C = 0x0C;      // bim word_14
constexpr uint32_t V_WORD_10 = 0x10;      // bim word_0c
constexpr uint32_t V_WORD_14 = 0x14;      // bim word_10
constexpr uint32_t V_JUMP = 0x18;         // V_JUMP_WORD
constexpr uint32_t V_JUMP_DISPLACEMENT = 0x1C;
constexpr uint32_t V_HEAP_START = 0x20;

// The bim words krelt carries over to another offset of the Tamrisk
// header: the rewrite and krelt-info's listing both read this table.
struct MovedWord {
  uint32_t bim_offset;
  uint32_t v_offset;
};
constexpr MovedWord MOVED_WORDS[] = {
    {BIM_WORD_0C, V_WORD_10},
    {BIM_WORD_10, V_WORD_14},
    {BIM_WORD_14, V_WORD_0C},
};
constexpr uint32_t MOVED_WORD_COUNT =
    sizeof MOVED_WORDS / sizeof MOVED_WORDS[0];

// Bytes 00 00 00 E9: E9 at 0x1B opens an x86 near jump whose displacement
// (the word at 0x1C) is relative to 0x20, the end of the instruction, so
// the loader can jump to 0x1B to reach the entry.
constexpr uint32_t V_JUMP_WORD = 0xE9000000;
constexpr uint32_t V_JUMP_END = 0x20;
constexpr char V_SIGNATURE_BYTES[4] = {'M', 'O', 'G', 'E'};

uint32_t get_u32le(const unsigned char* bytes);
void put_u32le(unsigned char* bytes, uint32_t value);

// The words at offsets 4 and 8 both hold 36.
bool is_bim_header(const unsigned char* header);

// Sum of bim words 0x0C, 0x14 and 0x1C, rounded up to a multiple of 16.
uint32_t bim_heap_start(const unsigned char* bim_header);

// The entry offset that the jump in a v header reaches.
uint32_t v_entry(const unsigned char* v_header);

// heap start + heap size, rounded up to a multiple of 4096.
uint32_t memory_size(uint32_t heap_start, uint32_t heap_size);

// Rewrites a bim header into a v header in place. All bim words are read
// before the first byte is written.
void rewrite_header(unsigned char* header, uint32_t heap_size,
                    uint32_t mmarea_size);
