// Hooks between the SIP stack library (sofia-sip) and the log.
//
// sofia-sip traces every SIP message it sends or receives through its own
// log when the environment variable TPORT_LOG is set before its transports
// are created: a stamp line ("recv 412 bytes from udp/[127.0.0.1]:5060 at
// ...:" or "send ..."), a separator, the message lines indented by three
// blanks and a closing separator. tarn_sofia_log_redirect() takes over the
// library's default log and its transport log: every piece of output goes to
// sofia_msg_logger (the SIP stack log file), and each traced message is put
// back together and handed to the hook tarn_log_sip.
#pragma once
#include <cstdarg>

typedef void (*tarn_log_sip_func)(const char *stamp, const char *payload);

// Called with the stamp (without its line end) and the message text for each
// SIP message; empty until start-up sets it to tarn_sofia_log_callback.
extern tarn_log_sip_func tarn_log_sip;

// Writes the message as an nmessage of level 2 in module SIP ("SIP RX: " for
// stamps beginning with "r", else "SIP TX: ").
void tarn_sofia_log_callback(const char *stamp, const char *payload);

// Sink of the library's log output: the SIP stack log file of
// log_backend() (sofia_log_fp, sofia_log_max_filesize, sofia_log_path).
void sofia_msg_logger(void *logarg, const char *format, va_list ap);

// Redirects the library's default log and transport log to the sinks above.
void tarn_sofia_log_redirect();
