// In-process packet-filter commands. One iptables command line, without
// the word "iptables" and without "-t nat", is split into words, parsed by
// our own parser for the rule shapes the daemon issues and applied to the
// table through libiptc. A rule the parser does not accept is reported
// ("iptables: %s\n" on standard error) and changes nothing; nothing here
// ends the process.
//
// Not reentrant: the argument vector and the table handle are shared.
// Callers serialise (the system-command runner holds system_call_lock).
#pragma once

enum {
    KVFWD_ARGV_SIZE = 255,
    KVFWD_MAX_ARGS = 254, // program name included
};

// The argument vector of the command being run, rebuilt for every command.
extern char *newargv[KVFWD_ARGV_SIZE];
extern int newargc;

// The parser's program name, newargv[0] of every command ("iptables" until
// set) and its version text.
extern const char *program_name;
extern const char *program_version;

// Start-up: names the parser and registers its extensions (the match and
// target kinds it knows). Only the first call has an effect; returns 0.
int kvfwd_init(const char *name, const char *version);

// Appends a copy of the text to newargv: 1, or 0 for a null text or a full
// vector (254 entries).
int kvfwd_add_argv(const char *what);

// Frees every entry of newargv and sets newargc to 0.
void kvfwd_free_argv();

// Runs one command on the table ("filter" or "nat"); splits `command` in
// place at blanks. 1 on success, 0 on failure (message on standard error).
// More than 253 words are refused as a whole.
int kvfwd_do_command(const char *table, char *command);
