// Stand-in for the one base64 call of libs/base64 that the ISDN library uses,
// with the same name and behaviour, used only while that library is not in
// the tree. The library's CMake file picks the real one when it exists.
#pragma once
#include <cstddef>

// Encodes length bytes and terminates the text, writing at most size bytes;
// returns the number of characters written before the NUL.
int plaintext_to_base64(const char *in, int length, char *out, size_t size);
