// Text and file helpers used all over the daemon. Every function works on
// NUL-terminated byte strings in the caller's buffers unless said otherwise,
// none logs, and a function that takes a destination size never writes more
// than that many bytes, terminating NUL included.
#pragma once
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include <string>
#include <vector>

// ---- comparison and classification ---------------------------------------

// 0 when both texts have the same length and are equal ignoring case, else -1.
int st_stricmp(const char *a, const char *b);
// The first n characters ignoring case: texts of equal length compare
// min(n, length) characters; texts of different length compare the shorter
// length and fail at once when that is below n. 0 equal, else -1.
int st_strincmp(const char *a, const char *b, int n);
// 1 when any character is not a decimal digit (0 for an empty text).
int st_string_has_non_digits(const char *s);
// allowed 1: always 0; 2: 1 when any character is not a digit; else 1 when
// any character is outside 0-9, '*', '#', 'A'-'D'.
int st_string_has_non_valid_isdn_chars(const char *s, int allowed);
// 1 for "yes" (any case) or a leading non-zero decimal number, else 0.
int st_convert_boolstring_to_int(const char *s);
// Position of the n-th (from 1) occurrence of c, or -1.
int st_scan_for_character(const char *s, char c, int n);

// ---- in-place editing ---------------------------------------------------------

// Strips spaces, tabs, CR and LF at both ends and turns every inner run of
// them into one space; returns the number of spaces left.
int st_trimstring(char *s);
// Strips spaces (only spaces) at both ends.
void st_remove_leading_and_trailing_whitespace(char *s);
// Removes every CR and LF.
void st_remove_clrf(char *s);
// Removes every character that occurs in set.
void st_remove_characters(char *s, const char *set);
// Removes trailing characters while they occur in set.
void st_remove_characters_from_end(char *s, const char *set);
// Collapses every run of c into one c.
void st_make_unique_chars(char *s, char c);
// Removes every single and double quote.
void st_strip_quotation_marks(char *s);
// Overwrites every occurrence of search by replace (same length), optionally
// ignoring case; 0, or -1 (nothing changed) when the lengths differ or
// search is empty.
int st_replace_characters_in_place(char *s, const char *search, const char *replace, int nocase);
// Converts to upper case.
void st_toupper(char *s);
// Removes the first character and returns it; 0 for an empty text.
char st_pop_front_char_from_string(char *s);

// ---- copying, escaping and formatting --------------------------------------

// Appends formatted text after the buffer's contents, cut to fit; returns 0.
int st_safe_strcat(char *buf, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// Copies src writing CR as "\r" and LF as "\n" (two characters each); stops
// before a character when fewer than 3 bytes are left; always terminated.
void st_textify_crlf(char *dst, size_t size, const char *src);
// Copies src for a JSON string: CR as \\r, LF as \\n (three characters each),
// '"' as \"; stops when fewer than 4 bytes are left; always terminated.
void st_json_textify(char *dst, size_t size, const char *src);
// Writes src into dst with every occurrence of search replaced, cut to size.
// src is used as scratch and ends cut at the first occurrence. An empty
// search copies src unchanged.
void st_replace_strings(const char *search, const char *replace, char *dst, size_t size, char *src);
// Copies src from its first character that is not '0'; dst stays as it was
// when there is none.
void st_remove_leading_zeros(const char *src, char *dst, size_t size);
// From a SIP address line: the display name between the first two double
// quotes before "sip:", and the user between "sip:" and "@". Both outputs
// start empty and are cut to their buffers.
void st_get_display_and_user_from_sip_line(const char *line, char *display, size_t display_size,
                                           char *user, size_t user_size);
// Hex text (optional "0x", odd digit count padded with a leading 0, at most
// 63 digits) to bytes, at most size of them; returns the number of bytes.
int st_hexstring_to_bytearray(const char *hex, unsigned char *buf, size_t size);
// Local time as "YY/MM/DD-hh:mm:ss:uuuuuu".
void st_date(char *buf, size_t size);

// ---- splitting lists --------------------------------------------------------

// The pieces of text between the separators, empty ones included (one empty
// piece for an empty text).
std::vector<std::string> st_split_string(const std::string &text, char separator);

// Splits text (which is cut up) at commas and stores new copies of the first
// size items, empty items included. Returns the number of items FOUND, which
// can be more than size: callers walk min(result, size) entries. The caller
// frees the copies.
int st_extract_comma_separated_values(char **array, int size, char *text);
// The same, storing each item's decimal value; same result rule.
int st_extract_comma_separated_values_int(int *array, int size, char *text);
// Splits text at any of the separator characters (runs of them count as
// one) into count fixed-width entries of array (entry i at array + i*width),
// each cut to width - 1 characters; returns the number stored.
int st_extract_to_char_array_by_separator(char *array, int count, int width,
                                          const char *separators, const char *text);
// Entry 0 is text; CR and LF become NUL and the first character after each
// run of them starts the next entry, up to size entries; returns the count
// (1 for an empty text, 0 when size is 0).
int st_splitify_to_lines(char *text, char **array, int size);
// Cuts buffer into lines at LF and returns the first line that starts with
// prefix, or null.
char *st_extract_line_from_buffer(char *buffer, const char *prefix);

// ---- ranges -------------------------------------------------------------------

// "1-15.17" style B-channel lists to a mask (bit n = channel n, 1..31) and back.
uint32_t st_parse_bchannels_range(const char *text);
void st_format_bchannels_range(uint32_t mask, char *buf, size_t size);
// "1,3-5" to a new array of the values (at most maximum of them, stopping at
// the item that would exceed it); *count gets their number. Null (count 0)
// when there are none. The caller frees the array.
int *st_explode_comma_separated_range_string(const char *text, int *count, int maximum);

// ---- files ---------------------------------------------------------------------

// 1 when the file can be opened for reading, else 0.
int file_exists(const char *path);
// Creates every missing directory along path with mode, owner and group;
// -1 when creating one fails for a reason other than its existence, else 0.
int create_directory(const char *path, mode_t mode, uid_t owner, gid_t group);
// Appends text to the file (created when missing); 0, or -1.
int st_append_to_file(const char *path, const char *text);
// The whole file in a new NUL-terminated buffer grown from initial_size
// (512 when <= 0) by doubling; null with errno EINVAL when the file cannot be
// opened, null on a read error. The caller frees it.
char *st_read_file_to_buffer(const char *path, int initial_size);
