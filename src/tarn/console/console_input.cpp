#include "console_input.h"

#include <cstring>

namespace {

// A protected "\;" pair while the text is split: backslash and semicolon
// become these two bytes and turn back into one ";" in the piece.
constexpr char PROTECTED_BACKSLASH = 0x08;
constexpr char PROTECTED_SEMICOLON = 0x07;

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

void add_piece(const std::string &text, size_t b, size_t e, std::vector<std::string> &lines, size_t &n)
{
    while (b < e && blank(text[b]))
        b++;
    while (e > b && blank(text[e - 1]))
        e--;
    if (b == e)
        return;
    std::string piece;
    piece.reserve(e - b);
    for (size_t i = b; i < e; i++) {
        char c = text[i];
        if (c == PROTECTED_SEMICOLON)
            continue;
        piece += c == PROTECTED_BACKSLASH ? ';' : c;
    }
    lines.push_back(std::move(piece));
    n++;
}

} // namespace

size_t console_split_input(console_input &in, const char *data, size_t len, bool full,
                           std::vector<std::string> &lines)
{
    // Line ends become separators, carriage returns go.
    std::string text;
    text.reserve(in.tail.size() + len);
    text = in.tail;
    in.tail.clear();
    for (size_t i = 0; i < len; i++) {
        char c = data[i];
        if (c == '\r')
            continue;
        text += c == '\n' ? ';' : c;
    }
    for (size_t i = 0; i + 1 < text.size(); i++)
        if (text[i] == '\\' && text[i + 1] == ';') {
            text[i] = PROTECTED_BACKSLASH;
            text[i + 1] = PROTECTED_SEMICOLON;
            i++;
        }

    size_t begin = 0, end = text.size();
    if (in.dropping) {
        size_t sep = text.find(';');
        if (sep == std::string::npos)
            return 0; // still inside the overlong line
        in.dropping = false;
        begin = sep + 1;
    }
    if (full) {
        size_t last = text.rfind(';');
        if (last == std::string::npos) {
            // One line fills the whole read: no command is that long.
            in.dropping = true;
            return 0;
        }
        in.tail = text.substr(last + 1);
        end = last;
    }

    size_t n = 0, b = begin;
    for (size_t i = begin; i <= end; i++)
        if (i == end || text[i] == ';') {
            add_piece(text, b, i, lines, n);
            b = i + 1;
        }
    return n;
}
