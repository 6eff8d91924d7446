#include "csm_layout.h"

#include <cstdio>
#include <cstring>

namespace {

// Number of value bits a piece carries.
int piece_bits(const csm_field *f, const csm_place &p)
{
    return p.nbits ? p.nbits : f->bits;
}

bool piece_used(const csm_field *f, int i)
{
    return i == 0 || f->at[i].nbits != 0;
}

uint32_t mask_of(int bits)
{
    return bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u);
}

} // namespace

void csm_put_field(uint8_t *frame, int limit, const csm_field *f, uint32_t value)
{
    value &= mask_of(f->bits);
    for (int i = 0; i < 3 && piece_used(f, i); i++) {
        const csm_place &p = f->at[i];
        int n = piece_bits(f, p);
        uint32_t v = (value >> p.vbit) & mask_of(n);
        if (p.be) {
            int bytes = n / 8;
            for (int k = 0; k < bytes; k++) {
                int at = p.byte + k;
                if (at < limit)
                    frame[at] |= (uint8_t)(v >> (8 * (bytes - 1 - k)));
            }
            continue;
        }
        for (int k = 0; k < n; k++) {
            if (!((v >> k) & 1u))
                continue;
            int bitpos = p.bit + k;
            int at = p.byte + bitpos / 8;
            if (at < limit)
                frame[at] |= (uint8_t)(1u << (bitpos % 8));
        }
    }
}

uint32_t csm_get_field(const uint8_t *frame, int limit, const csm_field *f)
{
    uint32_t value = 0;
    for (int i = 0; i < 3 && piece_used(f, i); i++) {
        const csm_place &p = f->at[i];
        int n = piece_bits(f, p);
        uint32_t v = 0;
        if (p.be) {
            int bytes = n / 8;
            for (int k = 0; k < bytes; k++) {
                int at = p.byte + k;
                v = (v << 8) | (at < limit ? frame[at] : 0u);
            }
        } else {
            for (int k = 0; k < n; k++) {
                int bitpos = p.bit + k;
                int at = p.byte + bitpos / 8;
                if (at < limit && ((frame[at] >> (bitpos % 8)) & 1u))
                    v |= 1u << k;
            }
        }
        value |= v << p.vbit;
    }
    return value & mask_of(f->bits);
}

int csm_rows_end(const csm_field *rows, size_t nrows)
{
    int end = 8;
    for (size_t r = 0; r < nrows; r++) {
        const csm_field *f = &rows[r];
        for (int i = 0; i < 3 && piece_used(f, i); i++) {
            const csm_place &p = f->at[i];
            int n = piece_bits(f, p);
            int last = p.be ? p.byte + n / 8 : p.byte + (p.bit + n + 7) / 8;
            if (last > end)
                end = last;
        }
    }
    return end;
}

void csm_write_rows(const csm_field *rows, size_t nrows, const void *record,
                    uint8_t *frame, int limit)
{
    for (size_t r = 0; r < nrows; r++)
        csm_put_field(frame, limit, &rows[r], rows[r].get(record));
}

void csm_read_rows(const csm_field *rows, size_t nrows, void *record,
                   const uint8_t *frame, int limit)
{
    for (size_t r = 0; r < nrows; r++)
        rows[r].set(record, csm_get_field(frame, limit, &rows[r]));
}

void csm_default_rows(const csm_field *rows, size_t nrows, void *record)
{
    for (size_t r = 0; r < nrows; r++)
        rows[r].set(record, rows[r].def);
}

void csm_format_rows(char *out, size_t size, const csm_field *rows, size_t nrows,
                     const void *record, const uint8_t *order)
{
    if (!out || size == 0)
        return;
    out[0] = '\0';
    size_t used = 0;
    bool first = true;
    for (size_t k = 0; used < size; k++) {
        size_t r = k;
        if (order) {
            if (order[k] == 0xFF)
                break;
            r = order[k];
        }
        if (r >= nrows)
            break;
        const csm_field *f = &rows[r];
        if (f->fmt == CSM_FMT_NOLOG)
            continue;
        uint32_t v = f->get(record);
        const char *sep = first ? "" : ", ";
        first = false;
        int n;
        if (f->fmt == CSM_FMT_HEX)
            n = snprintf(out + used, size - used, "%s%s: 0x%x", sep, f->name, v);
        else if (f->fmt == CSM_FMT_HEX4)
            n = snprintf(out + used, size - used, "%s%s: 0x%04x", sep, f->name, v);
        else
            n = snprintf(out + used, size - used, "%s%s: %i", sep, f->name, (int)v);
        if (n < 0)
            break;
        used += (size_t)n;
    }
}
