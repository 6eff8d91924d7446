// Stand-in for the one string tool of libs/strtools that the ISDN library
// uses, with the same name and behaviour, used only while that library is
// not in the tree. The library's CMake file picks the real one when it exists.
#pragma once
#include <cstddef>

// Appends formatted text after the buffer's contents, cut to fit; returns 0.
int st_safe_strcat(char *buf, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
