// Text conversions between the gateway's UTF-8 and the radio side: UCS2 as
// hexadecimal text, the packed GSM 7-bit default alphabet and ISO 8859-1.
#pragma once
#include <cstddef>

// GSM 03.38 default-alphabet septet -> single byte (ISO 8859-1; the Greek
// capitals as 0x81, 0x82..0x8A; escape stays 0x1B).
extern const unsigned char gsm_7bit_default_alphabet[128];

// New upper-case hex text, four digits per UTF-16 unit (characters beyond
// U+FFFF as a surrogate pair). Null with errno EINVAL (null input), EFAULT
// (invalid UTF-8) or ENOMEM.
char *libgsm_utf8_to_ucs2(const char *utf8);

// New UTF-8 text from UCS2/UTF-16 hex; a high surrogate (D800-DBFF) joins the
// following low surrogate. Null with errno EINVAL for null or non-hex input.
char *libgsm_ucs2_to_utf8(const char *hex);

// Unpacks floor(count*8/7) septets and maps them through the default
// alphabet; returns the characters written (out is NUL-terminated).
int decode_7bit(const unsigned char *bytes, int count, char *out, int size);

// Unpacks nseptets septets that start fill_bits bits into the data (the
// fill bits after a user data header), through the default alphabet.
int gsm_unpack_septets(const unsigned char *bytes, int nbytes, int fill_bits, int nseptets,
                       char *out, int size);

// Hex pairs to bytes; stops at the first pair that is not two hex digits or
// when out is full. Returns the bytes converted.
int texthex_to_binhex(const char *hex, unsigned char *out, int size);

// New UTF-8 text from ISO 8859-1.
char *iso8559_to_utf8(const char *text);

// The code point of a surrogate pair.
unsigned int twopart_ucs2_to_unicode(unsigned int high, unsigned int low);
