// Runs one CGI program the way a web server does: environment, arguments,
// the request body on standard input; collects the answer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct cgi_request {
    std::vector<std::string> env;   // "NAME=value", the whole environment
    std::string argv0;              // "": the program's path
    std::vector<std::string> args;  // arguments after argv[0]
    std::string body;
    bool stall = false;                  // keep standard input open after the body
    std::function<void(pid_t)> started;  // runs while the program runs
};

struct cgi_result {
    int status = -1;     // exit status, -1 when the program did not exit normally
    std::string out;     // standard output
    std::string err;     // standard error
    size_t unread = 0;   // body bytes nobody read
    pid_t pid = 0;
    double seconds = 0;  // from start to exit
};

// Runs program; a program that has not finished after 60 s is killed.
cgi_result run_cgi(const std::string &program, const cgi_request &rq);

// CRC-32 (as zlib and PHP's hash "crc32b" compute it) in lower-case hex.
std::string crc32_hex(const std::string &data);
