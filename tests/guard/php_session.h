// Session files written by the real PHP interpreter.
#pragma once

#include <cstdint>
#include <string>

// Runs fixtures/make_session.php through /usr/bin/php-cgi to write
// /tmp/sess_<id> with the activity time t in the given shape (see the
// script). levels is for shape "deep". Returns the file's bytes, "" on failure
// (with the reason in *error).
std::string php_make_session(const std::string &id, const std::string &shape, int64_t t,
                             std::string *error, int levels = 0);
