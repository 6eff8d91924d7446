#include "log_sip.h"

#include <pthread.h>
#include <sofia-sip/su_log.h>

#include <cstring>
#include <string>

#include "log.h"
#include "log_backend.h"

// The transport log of sofia-sip; the library exports it without a header.
extern "C" {
extern su_log_t tport_log[];
}

tarn_log_sip_func tarn_log_sip = nullptr;

void tarn_sofia_log_callback(const char *stamp, const char *payload)
{
    if (!log_levels_nmessage_enabled)
        return;
    if (!stamp)
        stamp = "";
    if (!payload)
        payload = "";
    if (stamp[0] == 'r')
        LOGN(SIP, 2, "SIP RX: %s<<<<<<<<\n%s<<<<<<<<\n", stamp, payload);
    else
        LOGN(SIP, 2, "SIP TX: %s>>>>>>>>\n%s>>>>>>>>\n", stamp, payload);
}

// The SIP stack threads share the one log file.
static pthread_mutex_t sofia_file_lock = PTHREAD_MUTEX_INITIALIZER;

void sofia_msg_logger(void *, const char *format, va_list ap)
{
    log_backend_state *b = log_backend();
    pthread_mutex_lock(&sofia_file_lock);
    if (!b->sofia_log_fp) {
        pthread_mutex_unlock(&sofia_file_lock);
        return;
    }
    char text[16384];
    vsnprintf(text, sizeof text, format, ap);
    // Indented pieces (message bodies) and lone line ends stay out. The
    // size is looked at only before a text that is written: the library
    // logs a message a line at a time, and most lines stay out.
    if (strlen(text) > 1 && text[0] != ' ') {
        if (ftell(b->sofia_log_fp) > b->sofia_log_max_filesize) {
            fclose(b->sofia_log_fp);
            b->sofia_log_fp = fopen(b->sofia_log_path, "w");
            if (!b->sofia_log_fp) {
                pthread_mutex_unlock(&sofia_file_lock);
                return;
            }
        }
        fputs(text, b->sofia_log_fp);
        fflush(b->sofia_log_fp);
    }
    pthread_mutex_unlock(&sofia_file_lock);
}

namespace {

const size_t TRACE_MAX = 65536; // longest message (or pending piece) kept

// Puts one traced message back together from the pieces the library logs.
// Each SIP stack thread traces its own messages, so each has its own.
struct sip_trace {
    enum { IDLE, STAMPED, BODY } state = IDLE;
    std::string pending; // output not yet ended by a line end
    std::string stamp;
    std::string payload;

    static bool is_separator(const std::string &l)
    {
        return l.size() == 3 + 72 && l.compare(0, 3, "   ") == 0 &&
               l.find_first_not_of('-', 3) == std::string::npos;
    }
    static bool is_stamp(const std::string &l)
    {
        return (l.compare(0, 5, "recv ") == 0 || l.compare(0, 5, "send ") == 0) &&
               l.find(" bytes ") != std::string::npos && !l.empty() && l.back() == ':';
    }

    void line(const std::string &l)
    {
        switch (state) {
        case IDLE:
            if (is_stamp(l)) {
                stamp = l;
                state = STAMPED;
            }
            break;
        case STAMPED:
            if (is_separator(l)) {
                payload.clear();
                state = BODY;
            } else {
                state = IDLE;
                line(l);
            }
            break;
        case BODY:
            if (is_separator(l)) {
                state = IDLE;
                if (tarn_log_sip_func hook = tarn_log_sip)
                    hook(stamp.c_str(), payload.c_str());
            } else if (l.compare(0, 3, "   ") == 0) {
                if (payload.size() + l.size() < TRACE_MAX)
                    payload.append(l, 3).append("\n");
            } else {
                state = IDLE;
                line(l);
            }
            break;
        }
    }

    void reset()
    {
        state = IDLE;
        pending.clear();
    }

    void feed(const char *text)
    {
        pending += text;
        size_t start = 0, nl;
        while ((nl = pending.find('\n', start)) != std::string::npos) {
            line(pending.substr(start, nl - start));
            start = nl + 1;
        }
        pending.erase(0, start);
        if (pending.size() > TRACE_MAX)
            pending.clear();
    }
};

thread_local sip_trace trace;

// Whether traced messages are wanted now. The daemon's own hook writes
// nothing while nmessage logging is off; the library then traces every line
// of every message for nobody, and the lines are not even formatted.
bool trace_wanted()
{
    tarn_log_sip_func hook = tarn_log_sip;
    return hook && (hook != tarn_sofia_log_callback || log_levels_nmessage_enabled);
}

void sofia_log_sink(void *logarg, const char *format, va_list ap)
{
    if (trace_wanted()) {
        // The arguments are read twice: once here, once by the file sink.
        char text[4096];
        va_list aq;
        va_copy(aq, ap);
        vsnprintf(text, sizeof text, format, aq);
        va_end(aq);
        trace.feed(text);
    } else if (trace.state != sip_trace::IDLE || !trace.pending.empty()) {
        // A message cut by the switch is dropped, not finished later with
        // the lines of another.
        trace.reset();
    }
    sofia_msg_logger(logarg, format, ap);
}

} // namespace

void tarn_sofia_log_redirect()
{
    su_log_redirect(nullptr, sofia_log_sink, nullptr);
    su_log_redirect(tport_log, sofia_log_sink, nullptr);
}
