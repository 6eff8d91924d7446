// Logging of CSM messages: the switches, the direction markers, the hex dump
// of a frame, and the two things the logs need from outside the message
// layer (the call tag of a context, and the timeslot of a DSP channel with
// its call tag), which the library's owner installs at start.
#pragma once
#include <cstddef>
#include <cstdint>

// Field-by-field lines of the coder and the parsers (level 18, module MSP).
extern int verbose_msp_logging;
// Hex dumps of whole messages (level 8, module MSP); set from configuration.
extern int msp_logging_active;

// Direction markers of the log lines.
const char *get_intro_command();          // " ---> "
const char *get_intro_command_response(); // " <--- "
const char *get_intro_query();            // " ===> "
const char *get_intro_query_response();   // " <=== "
const char *get_intro_indication();       // " <<<< "

// Writes the call tag of a context (which may be null) into buffer.
typedef void (*ContextInfo)(void *context, char *buffer, int size);
// Makes the buffer an empty text.
void msp_dummycontextinfo(void *context, char *buffer, int size);
// The call tag of a context as the installed formatter writes it.
struct msp_call_tag {
    char text[32];
    explicit msp_call_tag(void *context);
};
// The formatter in use; msp_dummycontextinfo until the application installs its own.
extern ContextInfo msp_context_info;

// The timeslot map's answers: the first timeslot 0-511 that holds a DSP
// channel (-1 when none) and the call tag kept for a timeslot.
typedef int (*msp_timeslot_of_channel_fn)(int channel);
typedef const char *(*msp_cid_of_timeslot_fn)(int timeslot);
// Installs the map's lookups; null restores the default (no timeslot, no tag).
void msp_set_timeslot_lookups(msp_timeslot_of_channel_fn timeslot_of_channel,
                              msp_cid_of_timeslot_fn cid_of_timeslot);
// The timeslot of a DSP channel, 0xFFFF when no timeslot holds it.
uint16_t msp_lookup_timeslot(int channel);
// The call tag of a timeslot, "CID:000000:00" outside 0-511 or without a map.
const char *msp_lookup_cid(int timeslot);

// Hex dump of `count` bytes: "(0x%02x):" before every eighth byte, each byte
// as "%02x "; stops at the eight-byte group that would not fit. The text is
// always terminated.
void fill_msp_payload_buffer(char *text, size_t size, const uint8_t *bytes, int count);

// Logs one message at level 8 of module MSP (while msp_logging_active is set
// and the MSP debug level is 8 or more): its header, the result code of a
// command response, and the hex dump. `length` bounds what is read of the
// buffer besides its own length byte.
void _msp_show_msg(const char *file, int line, const char *function, void *context,
                   const uint8_t *buffer, int length);
// True while whole messages are logged: msp_logging_active set and the MSP
// debug level 8 or more.
bool msp_show_msg_enabled();
// As _msp_show_msg with `prefix` (padded to 25 columns) and "Fun" in place
// of "CSMHEADER: Function": the lines of the link's sends and receives.
void msp_show_msg_prefixed(const char *file, int line, const char *function, void *context,
                           const char *prefix, const uint8_t *buffer, int length);
// The same text on standard error, always, with the call tag in front.
void msp_show_msg_fprintf(void *context, const uint8_t *buffer, int length);

#define MSP_SHOW_MSG(context, buffer, length) \
    _msp_show_msg(__FILE__, __LINE__, __func__, (context), (buffer), (length))
