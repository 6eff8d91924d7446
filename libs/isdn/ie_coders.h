// Coders of the Q.931 information elements the library reads and writes.
//
// An encoder checks its values, logs the element, appends a line to the
// message trace and places the element at the tail of the frame being built;
// a value out of range is reported on standard output with the coder's name
// and the element is left out.
//
// A decoder finds its element in a received frame (TE: the info record; NT:
// the record of element pointers), checks it against its minimum length and
// the room of the output, fills the outputs and returns 0; it returns 1 when
// the element is absent or malformed (reported on standard output).
#pragma once
#include <cstddef>
#include <ctime>

#include "misdn_msg.h"

struct misdn_bchannel;

// Channel identification of a BRI stack whose cidlen is not 1 folds channels
// above 2 onto 1 and 2: 1 gives odd numbers 1, any other value odd numbers 2.
extern int cidmodval;

void enc_ie_bearer(msg_t *msg, int coding, int capability, int mode, int rate, int multi, int user,
                   int nt, misdn_bchannel *bc);
void enc_ie_called_pn(msg_t *msg, int type, int plan, const char *number, int nt, misdn_bchannel *bc);
void enc_ie_calling_pn(msg_t *msg, int type, int plan, int present, int screen, const char *number,
                       int nt, misdn_bchannel *bc);
void enc_ie_connected_pn(msg_t *msg, int type, int plan, int present, int screen, const char *number,
                         int nt, misdn_bchannel *bc);
void enc_ie_redir_nr(msg_t *msg, int type, int plan, int present, int screen, int reason,
                     const char *number, int nt, misdn_bchannel *bc);
void enc_ie_keypad(msg_t *msg, const char *keypad, int nt, misdn_bchannel *bc);
void enc_ie_complete(msg_t *msg, int complete, int nt, misdn_bchannel *bc);
void enc_ie_cause(msg_t *msg, int location, int cause, int nt, misdn_bchannel *bc);
void enc_ie_progress(msg_t *msg, int coding, int location, int progress, int nt, misdn_bchannel *bc);
// Cuts the text itself (of size octets) at 80 characters when it is longer.
void enc_ie_display(msg_t *msg, char *display, int size, int nt, misdn_bchannel *bc);
// Date and time of `now` in local time: year modulo 100, month, day, hour, minute.
void enc_ie_date(msg_t *msg, time_t now, int nt, misdn_bchannel *bc);
void enc_ie_hlc_raw(msg_t *msg, const unsigned char *data, int len, int nt, misdn_bchannel *bc);
void enc_ie_llc_raw(msg_t *msg, const unsigned char *data, int len, int nt, misdn_bchannel *bc);
void enc_ie_useruser(msg_t *msg, int protocol, const unsigned char *data, int len, int nt,
                     misdn_bchannel *bc);
void enc_ie_facility(msg_t *msg, const unsigned char *data, int len, int nt, misdn_bchannel *bc);
// A further Facility element of the same message (repeated element).
void enc_ie_facility_second(msg_t *msg, const unsigned char *data, int len, int nt, misdn_bchannel *bc);
// Once per call: nothing when the call's channel identification was sent.
void enc_ie_channel_id(msg_t *msg, int exclusive, int channel, int nt, misdn_bchannel *bc);

int dec_ie_bearer(const msg_t *msg, int *coding, int *capability, int *mode, int *rate, int *multi,
                  int *user, int *async, int *urate, int *stopbits, int *dbits, int *parity, int nt,
                  misdn_bchannel *bc);
int dec_ie_called_pn(const msg_t *msg, int *type, int *plan, char *number, int size, int nt,
                     misdn_bchannel *bc);
// ani 1: the second occurrence of the element.
int dec_ie_calling_pn(const msg_t *msg, int *type, int *plan, int *present, int *screen, char *number,
                      int size, int nt, misdn_bchannel *bc, int ani);
// Empties the call's cad first.
int dec_ie_connected_pn(const msg_t *msg, int *type, int *plan, int *present, int *screen,
                        char *number, int size, int nt, misdn_bchannel *bc);
int dec_ie_redir_nr(const msg_t *msg, int *type, int *plan, int *present, int *screen, int *reason,
                    char *number, int size, int nt, misdn_bchannel *bc);
int dec_ie_cause(const msg_t *msg, int *location, int *cause, int nt, misdn_bchannel *bc);
int dec_ie_progress(const msg_t *msg, int *coding, int *location, int *progress, int nt,
                    misdn_bchannel *bc);
int dec_ie_channel_id(const msg_t *msg, int *exclusive, int *channel, int nt, misdn_bchannel *bc);
int dec_ie_display(const msg_t *msg, char *display, int size, int nt, misdn_bchannel *bc);
int dec_ie_keypad(const msg_t *msg, char *keypad, int size, int nt, misdn_bchannel *bc);
int dec_ie_complete(const msg_t *msg, int *complete, int nt, misdn_bchannel *bc);
// *len: content octets of the element (3 date only, 4 with hour, 5 with minute ...).
int dec_ie_date(const msg_t *msg, struct tm *tm, int *len, int nt, misdn_bchannel *bc);
// HLC and LLC contents longer than the output are refused.
int dec_ie_hlc_raw(const msg_t *msg, unsigned char *data, int size, int *len, int nt, misdn_bchannel *bc);
int dec_ie_llc_raw(const msg_t *msg, unsigned char *data, int size, int *len, int nt, misdn_bchannel *bc);
// *len: the user data octets copied (at most 128 and the output's size).
int dec_ie_useruser(const msg_t *msg, int *protocol, unsigned char *data, int size, int *len, int nt,
                    misdn_bchannel *bc);
int dec_ie_facility(const msg_t *msg, unsigned char *fac, int size, int *len, int nt, misdn_bchannel *bc);
int dec_ie_calling_subaddress(const msg_t *msg, unsigned char *sub, int size, int *len, int nt,
                              misdn_bchannel *bc);
int dec_ie_called_subaddress(const msg_t *msg, unsigned char *sub, int size, int *len, int nt,
                             misdn_bchannel *bc);

// Q.850 cause text; "Unknown cause" outside the list.
const char *ie_print_isdn_cause(int cause);
// Printed name of a type of number; enc 1: the encoders' naming (7 too).
const char *ie_ton_name(int type, int enc);
// Formats into a fixed text field, cut at its size (raw IE texts, numbers).
void ie_raw_text(char *field, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));

// A text written piece by piece into a fixed field: the same characters as
// snprintf with "%s", "%i" and "%x" would write, cut at the field's size less
// one, and always terminated. For the raw element texts every parse makes.
class ie_text {
  public:
    ie_text(char *field, size_t size) : f(field), cap(size ? size - 1 : 0), n(0), ok(field && size)
    {
        if (ok)
            f[0] = 0;
    }
    template <size_t N>
    explicit ie_text(char (&field)[N]) : ie_text(field, N)
    {
    }
    ie_text &str(const char *s) { return s ? put(s, __builtin_strlen(s)) : put("(null)", 6); }
    ie_text &num(int v);
    ie_text &hex(unsigned v);
    // The base64 text of len octets (nothing for none).
    ie_text &base64(const unsigned char *data, int len);

  private:
    ie_text &put(const char *s, size_t len)
    {
        if (!ok || n >= cap)
            return *this;
        if (len > cap - n)
            len = cap - n;
        __builtin_memcpy(f + n, s, len);
        n += len;
        f[n] = 0;
        return *this;
    }
    char *f;
    size_t cap;
    size_t n;
    bool ok;
};
// "%02x " per octet, at most 79 octets, into out of size octets.
void ie_hexdump(const unsigned char *data, int len, char *out, int size);
// Whether a coder's lines for the call are read: its level-18 log line or
// the trace of the message being coded.
bool ie_lines_wanted(const misdn_bchannel *bc);
