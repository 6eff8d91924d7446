// ASN.1 BER reading and writing for the facility coder (definite lengths,
// single-octet tags). Every read is checked against the end of its data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct ber_in {
    const uint8_t *p;
    const uint8_t *end;
    bool empty() const { return p >= end; }
};

// Reads the next element: its tag, and its content as a reader of its own;
// 0, or -1 when it is malformed or runs past the end.
int ber_next(ber_in *in, uint8_t *tag, ber_in *content);
// Reads the next element when its tag is `tag`; -1 otherwise (nothing read).
int ber_expect(ber_in *in, uint8_t tag, ber_in *content);
// Integer content of 1..4 octets (two's complement).
int ber_int(const ber_in &c, int *v);
// Text content, cut to size-1 characters.
void ber_text(const ber_in &c, char *out, int size);

struct ber_out {
    std::vector<uint8_t> b;
    // Starts a constructed element; returns the mark for ber_close.
    size_t open(uint8_t tag);
    void close(size_t mark);
    void put_int(uint8_t tag, int v);
    void put_text(uint8_t tag, const char *s, size_t max);
    void put_octets(uint8_t tag, const uint8_t *d, size_t n);
    void put_null(uint8_t tag);
};
