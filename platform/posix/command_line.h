// The raw command line of the native program, made from its argv.
#pragma once

enum JoinResult { JOIN_OK, JOIN_HAS_QUOTE, JOIN_NO_MEMORY };

// Joins argv into one line from the process heap (HeapAlloc) that the
// runtime's splitter turns back into the same arguments: an empty argument
// or one with a byte from 0x01 to 0x20 is put in double quotes. A double
// quote itself has no escape there: one in argv[1] to argv[read] cannot
// pass (JOIN_HAS_QUOTE); one in the program's path or a later argument is
// left out.
JoinResult join_arguments(int argc, char* const* argv, int read,
                          char** line_out);
