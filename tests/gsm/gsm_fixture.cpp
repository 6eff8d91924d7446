#include "gsm_fixture.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ftw.h>
#include <pthread.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

gsm_events g_events;

void gsm_events::add(const gsm_command *cmd)
{
    gsm_event_record r;
    r.event_type = cmd->event_type;
    r.port = cmd->port;
    r.response = cmd->response ? cmd->response : "";
    if (cmd->event_type == GSM_EVENT_TYPE_CMGS)
        r.send_cmd = "CMGS";
    else
        r.send_cmd = cmd->send_cmd ? cmd->send_cmd : "";
    r.context = cmd->context;
    {
        std::lock_guard<std::mutex> g(m_);
        v_.push_back(r);
    }
    cv_.notify_all();
}

std::vector<gsm_event_record> gsm_events::all()
{
    std::lock_guard<std::mutex> g(m_);
    return v_;
}

gsm_event_record gsm_events::wait_for(int type, const std::string &text, int ms)
{
    std::unique_lock<std::mutex> g(m_);
    gsm_event_record found{-1, 0, "", "", nullptr};
    cv_.wait_for(g, std::chrono::milliseconds(ms), [&] {
        for (auto &e : v_)
            if (e.event_type == type && e.response.find(text) != std::string::npos) {
                found = e;
                return true;
            }
        return false;
    });
    return found;
}

void gsm_events::clear()
{
    std::lock_guard<std::mutex> g(m_);
    v_.clear();
}

void gsm_test_callback(gsm_command *cmd)
{
    g_events.add(cmd);
    // The receiver of a CMGS answer owns the message record.
    if (cmd->event_type == GSM_EVENT_TYPE_CMGS)
        gsm_sms_free((gsm_outgoing_sms *)cmd->send_cmd);
}

std::string gsm_test_root()
{
    char tmpl[] = "/tmp/gsmtest.XXXXXX";
    char *d = mkdtemp(tmpl);
    std::string root = d ? d : "/tmp";
    setenv("TARN_ROOT", root.c_str(), 1);
    for (const char *sub : {"/tmp", "/tmp/sms", "/tmp/sms/in", "/tmp/sms/out", "/tmp/sms/failout",
                            "/tmp/sms/parts", "/tmp/cbm", "/tmp/cbm/in", "/tmp/cbm/parts", "/dev"})
        mkdir((root + sub).c_str(), 0770);
    return root;
}

static int rm_entry(const char *p, const struct stat *, int, struct FTW *)
{
    return remove(p);
}

void remove_tree(const std::string &path)
{
    if (path.size() > 5)
        nftw(path.c_str(), rm_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void gsm_test_clock(int scale_percent)
{
    static pthread_once_t once = PTHREAD_ONCE_INIT;
    pthread_once(&once, [] {
        pthread_t t;
        pthread_create(&t, nullptr, gsm_timer_function, nullptr);
        pthread_detach(t);
    });
    gsm_set_time_scale(scale_percent);
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}
