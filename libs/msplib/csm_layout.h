// Layout tables of the CSM messages: one row per field with its wire
// position, width and default. The serialiser, the parsers, the constructors
// and the field-by-field log line all read the same rows.
#pragma once
#include <cstddef>
#include <cstdint>

#include "csm_records.h"

// Where (part of) a field's value sits in the frame. Little-endian pieces
// take value bits vbit.. (nbits of them, 0 meaning the whole field) and put
// them from byte `byte`, bit `bit` upwards, running on into the next bytes.
// Big-endian pieces hold a whole 16- or 32-bit value from byte `byte`,
// high byte first.
struct csm_place {
    uint8_t byte;
    uint8_t bit;
    uint8_t vbit;
    uint8_t nbits;
    uint8_t be;
};

// How the log line shows a value: addresses and SSRC in hex; some reserved
// words stay out of the line.
enum csm_fmt : uint8_t {
    CSM_FMT_DEC = 0,
    CSM_FMT_HEX = 1,
    CSM_FMT_HEX4 = 2,
    CSM_FMT_NOLOG = 3,
};

struct csm_field {
    csm_place at[3];
    const char *name;
    uint32_t (*get)(const void *record);
    void (*set)(void *record, uint32_t value);
    uint8_t bits;
    uint32_t def;
    uint8_t fmt = CSM_FMT_DEC;
};


struct csm_command_layout;

// Writes a message's payload into the zeroed frame; the result is the
// serialiser's result (the length), or 0 to refuse the message.
typedef int (*csm_writer)(const csm_command_layout *layout, void *record, uint8_t *frame);

enum csm_log_kind : uint8_t {
    CSM_LOG_FIELDS = 0,       // "name: value" pairs
    CSM_LOG_FIELDS_RAW = 1,   // the pairs, then "raw_data" for the byte arrays
    CSM_LOG_UNIFIED_DIAG = 2, // the unified-diagnostics form
};

enum : uint8_t {
    CSM_INDEX_ZERO = 1, // the constructor leaves the header index at 0
};

// One command: header defaults, rows, and the writer of its payload.
struct csm_command_layout {
    uint16_t function_code;
    const char *record_name;
    size_t record_size;
    uint8_t command_class;
    uint8_t command_type;
    uint8_t msg_length;
    uint8_t flags;
    const csm_field *rows;
    size_t nrows;
    csm_writer writer; // null: the rows alone
    uint8_t log_kind;
    const uint8_t *log_order = nullptr; // null: the rows' order; else row indexes, ended by 0xFF
};

// The layout of a command's function code, or null.
const csm_command_layout *csm_find_command_layout(int function_code);
// Every command layout, ascending by function code.
const csm_command_layout *csm_command_layouts(size_t *count);

// One reply kind (response, query response, indication, diagnostic response,
// statistics reply): the record it becomes and where its fields sit.
struct csm_reply_layout {
    uint16_t function_code;
    const char *record_name;
    size_t record_size;
    const csm_field *rows;
    size_t nrows;
    // Reads the variable part (text, byte and word arrays) after the rows;
    // `length` is the frame length already checked against the rows.
    void (*tail)(void *record, const uint8_t *frame, int length);
    int min_length; // 0: the end of the last row
    const uint8_t *log_order; // as for commands
    // Writes the log line's field text itself, in place of the rows.
    void (*log_text)(char *out, size_t size, const void *record);
};

// Bit-level access to a frame. Writing ORs the value's bits into bytes below
// `limit` and drops the rest; reading takes bits from bytes below `limit`.
void csm_put_field(uint8_t *frame, int limit, const csm_field *f, uint32_t value);
uint32_t csm_get_field(const uint8_t *frame, int limit, const csm_field *f);
// The first byte past the last byte any of the rows touches.
int csm_rows_end(const csm_field *rows, size_t nrows);
// Writes every row's value from the record; bytes from `limit` on stay zero.
void csm_write_rows(const csm_field *rows, size_t nrows, const void *record,
                    uint8_t *frame, int limit);
// Reads every row from the frame into the record.
void csm_read_rows(const csm_field *rows, size_t nrows, void *record,
                   const uint8_t *frame, int limit);
// Sets every row's default.
void csm_default_rows(const csm_field *rows, size_t nrows, void *record);
// Formats the rows as "name: value, name: value" (bounded, always terminated),
// in the given order of row indexes (ended by 0xFF) or, without one, in the
// rows' order.
void csm_format_rows(char *out, size_t size, const csm_field *rows, size_t nrows,
                     const void *record, const uint8_t *order = nullptr);

// Logs the CRITICAL refusal of a message to be serialised and returns 0.
int csm_refuse(const csm_header *h, const char *why);

// Reply layouts by kind; null for a function code the kind does not know.
const csm_reply_layout *csm_find_command_response_layout(int function_code);
const csm_reply_layout *csm_find_query_response_layout(int function_code);
const csm_reply_layout *csm_find_indication_layout(int function_code);
const csm_reply_layout *csm_find_diag_response_layout(int function_code);
// The frame length a reply layout needs.
int csm_reply_min_length(const csm_reply_layout *layout);
