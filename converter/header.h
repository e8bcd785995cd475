// The 36-byte header of a bim image and of a Tamrisk application file, and
// the rewrite of one into the other. Pure: no I/O, no allocation.
#pragma once

#include <stdint.h>

constexpr uint32_t HEADER_SIZE = 36;
// Both check words of a bim header hold the header's own length.
constexpr uint32_t BIM_CHECK_VALUE = HEADER_SIZE;

// bim header offsets.
constexpr uint32_t BIM_CHECK_A = 0x04;
constexpr uint32_t BIM_CHECK_B = 0x08;
constexpr uint32_t BIM_WORD_0C = 0x0C;
constexpr uint32_t BIM_WORD_10 = 0x10;
constexpr uint32_t BIM_WORD_14 = 0x14;
constexpr uint32_t BIM_ENTRY = 0x18;
constexpr uint32_t BIM_WORD_1C = 0x1C;

// Tamrisk (v) header offsets.
constexpr uint32_t V_MEMORY_SIZE = 0x00;
constexpr uint32_t V_SIGNATURE = 0x04;
constexpr uint32_t V_MMAREA_SIZE = 0x08;
constexpr uint32_t V_WORD_0C = 0x0C;  // bim word 0x14
constexpr uint32_t V_WORD_10 = 0x10;  // bim word 0x0C
constexpr uint32_t V_WORD_14 = 0x14;  // bim word 0x10
constexpr uint32_t V_JUMP = 0x18;
constexpr uint32_t V_JUMP_DISPLACEMENT = 0x1C;
constexpr uint32_t V_HEAP_START = 0x20;

// Bytes 00 00 00 E9: E9 at 0x1B opens an x86 near jump whose displacement
// is relative to 0x20, the end of the instruction.
constexpr uint32_t V_JUMP_WORD = 0xE9000000;
constexpr uint32_t V_JUMP_END = 0x20;
constexpr char V_SIGNATURE_BYTES[4] = {'M', 'O', 'G', 'E'};

uint32_t get_u32le(const unsigned char* bytes);
void put_u32le(unsigned char* bytes, uint32_t value);

// The words at offsets 4 and 8 both hold 36.
bool is_bim_header(const unsigned char* header);

// Sum of bim words 0x0C, 0x14 and 0x1C, rounded up to a multiple of 16.
uint32_t bim_heap_start(const unsigned char* bim_header);

// heap start + heap size, rounded up to a multiple of 4096.
uint32_t memory_size(uint32_t heap_start, uint32_t heap_size);

// Rewrites a bim header into a v header in place. All bim words are read
// before the first byte is written.
void rewrite_header(unsigned char* header, uint32_t heap_size,
                    uint32_t mmarea_size);
