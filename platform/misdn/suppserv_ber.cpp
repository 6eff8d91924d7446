#include "suppserv_ber.h"

#include <cstring>

#include "suppserv.h"

int ParseLen(const uint8_t *p, const uint8_t *end, int *len)
{
    if (!p || !end || p >= end || !len)
        return -1;
    if (*p < 0x80) {
        *len = *p;
        return 1;
    }
    if (*p == 0x80) {
        *len = -1;
        return 1;
    }
    int n = *p & 0x7F;
    if (n > 3 || p + 1 + n > end)
        return -1;
    int v = 0;
    for (int i = 1; i <= n; i++)
        v = (v << 8) | p[i];
    *len = v;
    return n + 1;
}

int ber_next(ber_in *in, uint8_t *tag, ber_in *content)
{
    if (in->p >= in->end)
        return -1;
    uint8_t t = in->p[0];
    if ((t & 0x1F) == 0x1F)
        return -1;  // high tag numbers are not used here
    int len;
    int n = ParseLen(in->p + 1, in->end, &len);
    if (n < 0 || len < 0)
        return -1;
    const uint8_t *c = in->p + 1 + n;
    if (len > in->end - c)
        return -1;
    *tag = t;
    content->p = c;
    content->end = c + len;
    in->p = c + len;
    return 0;
}

int ber_expect(ber_in *in, uint8_t tag, ber_in *content)
{
    ber_in save = *in;
    uint8_t t;
    if (ber_next(in, &t, content) < 0 || t != tag) {
        *in = save;
        return -1;
    }
    return 0;
}

int ber_int(const ber_in &c, int *v)
{
    long n = c.end - c.p;
    if (n < 1 || n > 4)
        return -1;
    int32_t x = (c.p[0] & 0x80) ? -1 : 0;
    for (long i = 0; i < n; i++)
        x = (int32_t)(((uint32_t)x << 8) | c.p[i]);
    *v = x;
    return 0;
}

void ber_text(const ber_in &c, char *out, int size)
{
    if (size <= 0)
        return;
    long n = c.end - c.p;
    if (n > size - 1)
        n = size - 1;
    if (n < 0)
        n = 0;
    memcpy(out, c.p, (size_t)n);
    out[n] = 0;
}

size_t ber_out::open(uint8_t tag)
{
    b.push_back(tag);
    b.push_back(0);
    return b.size() - 1;
}

void ber_out::close(size_t mark)
{
    size_t len = b.size() - mark - 1;
    if (len < 0x80) {
        b[mark] = (uint8_t)len;
    } else if (len < 0x100) {
        b[mark] = 0x81;
        b.insert(b.begin() + (long)mark + 1, (uint8_t)len);
    } else {
        b[mark] = 0x82;
        uint8_t l2[2] = {(uint8_t)(len >> 8), (uint8_t)len};
        b.insert(b.begin() + (long)mark + 1, l2, l2 + 2);
    }
}

void ber_out::put_int(uint8_t tag, int v)
{
    uint8_t o[4];
    int n = 4;
    for (int i = 3; i >= 0; i--)
        o[i] = (uint8_t)((uint32_t)v >> (8 * (3 - i)));
    int s = 0;  // drop leading octets that sign extension restores
    while (s < 3 && ((o[s] == 0x00 && !(o[s + 1] & 0x80)) || (o[s] == 0xFF && (o[s + 1] & 0x80))))
        s++;
    put_octets(tag, o + s, (size_t)(n - s));
}

void ber_out::put_text(uint8_t tag, const char *s, size_t max)
{
    size_t n = strnlen(s, max);
    put_octets(tag, (const uint8_t *)s, n);
}

void ber_out::put_octets(uint8_t tag, const uint8_t *d, size_t n)
{
    size_t m = open(tag);
    b.insert(b.end(), d, d + n);
    close(m);
}

void ber_out::put_null(uint8_t tag)
{
    b.push_back(tag);
    b.push_back(0);
}
