#include "gsm_text.h"

#include "gsm_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

const unsigned char gsm_7bit_default_alphabet[128] = {
    0x40, 0xA3, 0x24, 0xA5, 0xE8, 0xE9, 0xF9, 0xEC, 0xF2, 0xC7, 0x0A, 0xD8, 0xF8, 0x0D, 0xC5, 0xE5,
    0x81, 0x5F, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x1B, 0xC6, 0xE6, 0xDF, 0xC9,
    0x20, 0x21, 0x22, 0x23, 0xA4, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0xA1, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0xC4, 0xD6, 0xD1, 0xDC, 0xA7,
    0xBF, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0xE4, 0xF6, 0xF1, 0xFC, 0xE0};

unsigned int twopart_ucs2_to_unicode(unsigned int high, unsigned int low)
{
    // high * 1024 + low - (0xD800 * 1024 + 0xDC00 - 0x10000)
    return high * 1024 + low - 56613888u;
}

static const char hexdigits[] = "0123456789ABCDEF";

static void put_unit(std::string &out, unsigned int u)
{
    out += hexdigits[(u >> 12) & 15];
    out += hexdigits[(u >> 8) & 15];
    out += hexdigits[(u >> 4) & 15];
    out += hexdigits[u & 15];
}

char *libgsm_utf8_to_ucs2(const char *utf8)
{
    if (!utf8) {
        errno = EINVAL;
        return nullptr;
    }
    std::string out;
    const unsigned char *p = (const unsigned char *)utf8;
    while (*p) {
        unsigned int c = *p;
        int extra;
        if (c < 0x80) {
            extra = 0;
        } else if (c >= 0xC2 && c < 0xE0) {
            extra = 1;
            c &= 0x1F;
        } else if (c >= 0xE0 && c < 0xF0) {
            extra = 2;
            c &= 0x0F;
        } else if (c >= 0xF0 && c < 0xF5) {
            extra = 3;
            c &= 0x07;
        } else {
            GLOG(0, 0, "CRITICAL: Invalid UTF8 character");
            errno = EFAULT;
            return nullptr;
        }
        p++;
        for (int i = 0; i < extra; i++, p++) {
            if ((*p & 0xC0) != 0x80) {
                GLOG(0, 0, "CRITICAL: Invalid UTF8 character");
                errno = EFAULT;
                return nullptr;
            }
            c = (c << 6) | (*p & 0x3F);
        }
        if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF)) {
            GLOG(0, 0, "CRITICAL: Invalid UTF8 character");
            errno = EFAULT;
            return nullptr;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            put_unit(out, 0xD800 + (c >> 10));
            put_unit(out, 0xDC00 + (c & 0x3FF));
        } else {
            put_unit(out, c);
        }
    }
    char *r = strdup(out.c_str());
    if (!r)
        errno = ENOMEM;
    return r;
}

static int hexval(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

static int read_unit(const char *p, unsigned int *u)
{
    unsigned int v = 0;
    for (int i = 0; i < 4; i++) {
        int h = hexval(p[i]);
        if (h < 0)
            return -1;
        v = (v << 4) | (unsigned)h;
    }
    *u = v;
    return 0;
}

static void put_utf8(std::string &out, unsigned int c)
{
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | (c >> 6));
        out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += (char)(0xE0 | (c >> 12));
        out += (char)(0x80 | ((c >> 6) & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xF0 | (c >> 18));
        out += (char)(0x80 | ((c >> 12) & 0x3F));
        out += (char)(0x80 | ((c >> 6) & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
}

char *libgsm_ucs2_to_utf8(const char *hex)
{
    if (!hex) {
        errno = EINVAL;
        return nullptr;
    }
    size_t n = strlen(hex);
    if (n % 4) {
        errno = EINVAL;
        return nullptr;
    }
    std::string out;
    for (size_t i = 0; i < n; i += 4) {
        unsigned int u;
        if (read_unit(hex + i, &u) < 0) {
            errno = EINVAL;
            return nullptr;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            unsigned int low;
            if (i + 8 <= n && read_unit(hex + i + 4, &low) == 0 && low >= 0xDC00 && low <= 0xDFFF) {
                put_utf8(out, twopart_ucs2_to_unicode(u, low));
                i += 4;
            } else {
                GLOG(5, 0, "error decoding UCS2");
            }
            continue;
        }
        if (u >= 0xDC00 && u <= 0xDFFF) {
            GLOG(5, 0, "error decoding UCS2");
            continue;
        }
        put_utf8(out, u);
    }
    char *r = strdup(out.c_str());
    if (!r)
        errno = ENOMEM;
    return r;
}

int gsm_unpack_septets(const unsigned char *bytes, int nbytes, int fill_bits, int nseptets,
                       char *out, int size)
{
    if (!out || size < 1)
        return 0;
    int n = 0;
    if (bytes && nbytes > 0 && fill_bits >= 0) {
        for (int s = 0; s < nseptets && n < size - 1; s++) {
            long bit = (long)fill_bits + (long)s * 7;
            long byte = bit / 8;
            int shift = (int)(bit % 8);
            if (byte >= nbytes)
                break;
            unsigned int v = bytes[byte] >> shift;
            if (shift > 1 && byte + 1 < nbytes)
                v |= (unsigned int)bytes[byte + 1] << (8 - shift);
            else if (shift > 1)
                break; // the septet runs past the data
            out[n++] = (char)gsm_7bit_default_alphabet[v & 0x7F];
        }
    }
    out[n] = '\0';
    return n;
}

int decode_7bit(const unsigned char *bytes, int count, char *out, int size)
{
    if (count < 0)
        count = 0;
    return gsm_unpack_septets(bytes, count, 0, count * 8 / 7, out, size);
}

int texthex_to_binhex(const char *hex, unsigned char *out, int size)
{
    if (!hex || !out)
        return 0;
    int n = 0;
    while (n < size && hex[0] && hex[1]) {
        int h = hexval(hex[0]), l = hexval(hex[1]);
        if (h < 0 || l < 0)
            break;
        out[n++] = (unsigned char)(h << 4 | l);
        hex += 2;
    }
    return n;
}

char *iso8559_to_utf8(const char *text)
{
    if (!text) {
        errno = EINVAL;
        return nullptr;
    }
    std::string out;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        if (*p < 0x80) {
            out += (char)*p;
        } else {
            out += (char)(*p < 0xC0 ? 0xC2 : 0xC3);
            out += (char)(0x80 | (*p & 0x3F));
        }
    }
    char *r = strdup(out.c_str());
    if (!r)
        errno = ENOMEM;
    return r;
}
