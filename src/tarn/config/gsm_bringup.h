// Bring-up of the GSM/LTE modem ports at start: the general settings of the
// GSM file, the SMS and cell-broadcast spool folders, one modem configuration
// per port, the reset of the modem modules, the modem library, and the two
// threads that keep the ports running.
#pragma once
#include <dirent.h>

// 0 after full bring-up; 1 when the modem library finds no GSM hardware; -1
// on a configuration or folder failure.
int init_gsm();
// Reads pin, smsc, provider and codec of the GSM file's general section into
// the application (freeing the previous texts first).
void gsm_config_get_general_settings();
// 0 when a GSM configuration path is set, else -1; reads nothing.
int gsm_reload_config();
// Directory filter: 1 for names ending in ".processing".
int filter_processing_extension(const struct dirent *entry);
// Thread body: resets the modem module of line-interface slot li (an int
// handed over by address).
void *gsm_helper_thread_reset_line_interface(void *li);
// Removes the port's claimed outgoing SMS files.
void clean_sms_processing_for_port(int port);

// One provider entry ("1:a|b|c|26201|7"): mode, operator code, access
// technology.
void gsm_parse_provider(const char *entry, int *mode, int *numeric, int *access_technology);
// One codec entry ("1|2|4"): the sum of its numbers, 0 above 255.
int gsm_parse_codec(const char *entry);
