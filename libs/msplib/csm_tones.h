// Names of the tone-detection values and fax relay states that the media
// processor reports; the event handler logs and decides on them.
#pragma once

// Name of a detected tone; "UNKNOWN_TONEDET" for any other value.
const char *msp_print_tonedet(int value);
// Name of a fax relay state: 0-31 the relay states, from 256 a T.30 frame
// (high byte the facsimile control field, low byte 6 received or 7 sent);
// "UNKNOWN_FAXSTATE" for anything else.
const char *msp_print_faxstate(int value);
// The T.30 part of msp_print_faxstate alone.
const char *msp_print_fcf(int value);
