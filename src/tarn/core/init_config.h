#pragma once
#include <cstddef>

// Reads every configuration file once at start. Returns 0; every failure
// ends the process with exit 99 (and -C ends it with status 0).
int init_config();

// Only what the media processor probe (-A) needs: the configuration manager,
// tarn.conf and tarn.sip, with the same messages and exits.
void load_config_for_probe();

// The path of one configuration file: the command-line path when given, else
// the -e directory and the name, else /usr/conf/ and the name (under the
// root). 0, or -1 when it does not fit.
int choose_config_path(const char *cli_path, const char *etc, const char *name, char *out, size_t size);

// Reads experimental_options of the loaded tarn.conf and parses it; when the
// key cannot be read the message is printed, the defaults of an empty text
// are put in force and -1 is returned.
int parse_experimental_options();

// Opens the empty placeholder that stands in for a missing configuration
// file; 0, or -1 when it cannot be made safely.
int create_placeholder_file(const char *path);
