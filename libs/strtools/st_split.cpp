#include "strtools.h"

#include <cstdlib>
#include <cstring>

// Walks the comma-separated items of text, cutting it up; calls f(item, i)
// for the first size items; returns the number of items found.
template <typename F>
static int walk_commas(char *text, int size, F f)
{
    if (!text)
        return 0;
    int found = 0;
    char *p = text;
    for (;;) {
        char *comma = strchr(p, ',');
        if (comma)
            *comma = '\0';
        if (found < size)
            f(p, found);
        found++;
        if (!comma)
            break;
        p = comma + 1;
    }
    return found;
}

int st_extract_comma_separated_values(char **array, int size, char *text)
{
    if (!array)
        size = 0;
    return walk_commas(text, size, [&](char *item, int i) { array[i] = strdup(item); });
}

int st_extract_comma_separated_values_int(int *array, int size, char *text)
{
    if (!array)
        size = 0;
    return walk_commas(text, size, [&](char *item, int i) {
        array[i] = (int)strtol(item, nullptr, 10);
    });
}

int st_extract_to_char_array_by_separator(char *array, int count, int width,
                                          const char *separators, const char *text)
{
    if (!array || count <= 0 || width <= 0 || !separators || !text)
        return 0;
    int n = 0;
    const char *p = text;
    while (n < count) {
        p += strspn(p, separators);
        if (!*p)
            break;
        size_t len = strcspn(p, separators);
        size_t keep = len < (size_t)width - 1 ? len : (size_t)width - 1;
        char *entry = array + (size_t)n * (size_t)width;
        memcpy(entry, p, keep);
        entry[keep] = '\0';
        n++;
        p += len;
    }
    return n;
}

int st_splitify_to_lines(char *text, char **array, int size)
{
    if (!text || !array || size <= 0)
        return 0;
    int n = 0;
    array[n++] = text;
    char *p = text;
    while (n < size) {
        p += strcspn(p, "\r\n");
        if (!*p)
            break;
        while (*p == '\r' || *p == '\n')
            *p++ = '\0';
        if (!*p)
            break;
        array[n++] = p;
    }
    // The last entry ends at its own line end.
    p += strcspn(p, "\r\n");
    *p = '\0';
    return n;
}

char *st_extract_line_from_buffer(char *buffer, const char *prefix)
{
    if (!buffer || !prefix)
        return nullptr;
    size_t pl = strlen(prefix);
    char *line = buffer;
    for (;;) {
        char *lf = strchr(line, '\n');
        if (lf)
            *lf = '\0';
        if (strncmp(line, prefix, pl) == 0)
            return line;
        if (!lf)
            return nullptr;
        line = lf + 1;
    }
}

std::vector<std::string> st_split_string(const std::string &text, char separator)
{
    std::vector<std::string> pieces;
    for (size_t start = 0;;) {
        size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return pieces;
        start = end + 1;
    }
}
