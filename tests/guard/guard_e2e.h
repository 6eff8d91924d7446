// Shared pieces of the tests that run the built postwarden against the real
// /usr/bin/php-cgi inside the test's own mount namespace.
#pragma once

#include <string>
#include <vector>

#include "cgi_run.h"

// The guard as the build leaves it, and the script PHP runs when it is admitted.
#define GUARD_PROGRAM TARN_BINARY_DIR "/guard/postwarden"
#define REPORT_SCRIPT TARN_SOURCE_DIR "/tests/guard/fixtures/report.php"

// The exact CGI answers of a refused request.
extern const std::string answer_411;
extern const std::string answer_413;
extern const std::string answer_403;
extern const std::string answer_500;

// The CGI variables of a request that the guard looks at; nullptr leaves a
// variable out of the environment.
struct request_vars {
    const char *method;
    const char *content_length;
    const char *content_type;
    const char *script;
    const char *cookie;
};

// A request to the guard: the variables above plus what the web server and
// PHP need (REDIRECT_STATUS=200, the report script).
cgi_request guard_request(const request_vars &v, std::string body = "",
                          std::vector<std::string> args = {});

struct guard_result : cgi_result {
    std::vector<std::string> log;  // the guard's system log lines
};

guard_result run_guard(const cgi_request &rq);

// What the report script printed, when it ran.
struct php_report {
    bool ran = false;
    std::string memory_limit;
    std::string post_data_reading;
    std::string method;
    long long length = -1;
    std::string crc32;
};

php_report parse_report(const std::string &out);

// The one system log line a refusal writes, at LOG_AUTHPRIV | LOG_WARNING.
bool is_rejection_log(const std::vector<std::string> &log, pid_t pid, const std::string &reason);

// Body of n bytes of varied content.
std::string body_of(size_t n);
