#include "php_session.h"

#include <fstream>
#include <sstream>

#include "cgi_run.h"

std::string php_make_session(const std::string &id, const std::string &shape, int64_t t,
                             std::string *error, int levels)
{
    cgi_request rq;
    rq.env = {
        "REDIRECT_STATUS=200",
        "GATEWAY_INTERFACE=CGI/1.1",
        "REQUEST_METHOD=GET",
        "SCRIPT_FILENAME=" TARN_SOURCE_DIR "/tests/guard/fixtures/make_session.php",
        "QUERY_STRING=id=" + id + "&shape=" + shape + "&t=" + std::to_string(t) +
            "&levels=" + std::to_string(levels),
    };
    rq.args = {"-d", "session.save_path=/tmp", "-d", "session.serialize_handler=php"};
    cgi_result r = run_cgi("/usr/bin/php-cgi", rq);
    if (r.status != 0 || r.out.find("made") == std::string::npos) {
        *error = "php-cgi failed (" + std::to_string(r.status) + "): " + r.out + r.err;
        return "";
    }
    std::ifstream f("/tmp/sess_" + id, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    if (ss.str().empty())
        *error = "php-cgi wrote no /tmp/sess_" + id;
    return ss.str();
}
