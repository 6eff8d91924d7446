// What a function writes to a stream, as a string:
//     std::string s = stream_text([](FILE *out) { pg_list_groups(out); });
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

template <class Write>
std::string stream_text(Write write)
{
    char *buf = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buf, &size);
    if (!out)
        return std::string();
    write(out);
    fclose(out);
    std::string s(buf, size);
    free(buf);
    return s;
}
