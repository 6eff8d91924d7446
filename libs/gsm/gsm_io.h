// Writing command lines to a modem and reading its lines back: the raw
// writer, the buffered and the byte-by-byte line readers, and the POSIX
// regular-expression helpers used on modem answers.
#pragma once
#include "gsm_port.h"

#include <cstddef>

int gsm_send_raw(int port, const char *text, int pause_ms, int lock);
// Sends text cut at its first CR or LF, followed by "\r", with the send lock.
int gsm_send(int port, const char *text, int pause_ms);

// A stop of the port was asked for. The line readers give up within 100 ms
// of it, so that no exchange in flight holds the stop up.
bool gsm_port_stopping(const _libgsm_ctlport_t *ctl);

// Both readers: 1 for a complete line (terminator included in line), 0 for
// none or an incomplete one (the partial text is in line).
int gsm_read_line(const char *cid, _libgsm_ctlport_t *ctl, char *line, int size, int timeout_ms,
                  const char *prompt);
int gsm_read_line_new(const char *cid, _libgsm_ctlport_t *ctl, char *line, int size,
                      int timeout_ms, const char *prompt);
// One byte from the device within timeout_ms: 1, or 0 on time-out or a
// device that hung up (which is marked and logged once).
int gsm_read_byte(_libgsm_ctlport_t *ctl, char *c, int timeout_ms);
int gsm_read_line_old(const char *cid, _libgsm_ctlport_t *ctl, char *line, int size,
                      int timeout_ms, const char *prompt);

// Takes one line off the front of ctl->read_buffer: 1 copied, 0 no terminator
// yet, -1 a line too long for the target was dropped. A CR that is the last
// buffered byte ends a line only when cr_at_end is set (else its LF may follow).
int gsm_extract_buffered_line(const char *cid, _libgsm_ctlport_t *ctl, char *line, int size,
                              const char *prompt, int cr_at_end = 1);

// Appends bytes to the read buffer as the buffered reader does (NUL bytes are
// dropped); returns the number of bytes kept.
int gsm_buffer_append(_libgsm_ctlport_t *ctl, const char *data, int len);

const char *libgsm_regexp(const char *input, const char *pattern, int *len_out, int flags);
char *libgsm_regexp2(const char *input, const char *pattern, int flags);
