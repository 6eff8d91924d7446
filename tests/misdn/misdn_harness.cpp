#include "misdn_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "misdn_device.h"
#include "misdn_msg.h"
#include "q931_info.h"

extern char **environ;

tmp_dir::tmp_dir()
{
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/misdn-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data()))
        path = buf.data();
}

tmp_dir::~tmp_dir()
{
    if (!path.empty() && !getenv("MISDN_TEST_KEEP")) {
        std::string cmd = "rm -rf '" + path + "'";
        int r = system(cmd.c_str());
        (void)r;
    }
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream f(path);
    f << text;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string q931peer_path() { return std::string(TARN_BINARY_DIR) + "/sim/q931peer/q931peer"; }

bool peer_proc::start(const std::vector<std::string> &args, const std::string &outfile)
{
    out = outfile;
    std::vector<char *> argv;
    std::string prog = q931peer_path();
    argv.push_back(const_cast<char *>(prog.c_str()));
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string errfile = outfile + ".err";
    posix_spawn_file_actions_addopen(&fa, 2, errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int r = posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (r != 0)
        pid = -1;
    return r == 0;
}

std::vector<std::string> peer_proc::lines() const
{
    std::vector<std::string> v;
    std::istringstream in(read_file(out));
    std::string l;
    while (std::getline(in, l))
        v.push_back(l);
    return v;
}

bool peer_proc::wait_line(const std::string &prefix, int timeout_ms, std::string *line)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        for (const auto &l : lines())
            if (l.compare(0, prefix.size(), prefix) == 0) {
                if (line)
                    *line = l;
                return true;
            }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

void peer_proc::stop()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        int st;
        waitpid(pid, &st, 0);
        pid = -1;
    }
}

std::vector<uint8_t> info_data(const ie_list &ies)
{
    std::vector<uint8_t> d(1024, 0);
    int len = Q931_INFO_LEN;
    for (const auto &ie : ies) {
        int n = q931_info_add_ie(d.data(), len, (int)d.size(), ie.first, ie.second.data(),
                                 (int)ie.second.size());
        if (n > 0)
            len = n;
    }
    d.resize((size_t)len);
    return d;
}

std::vector<uint8_t> info_ie(const frame &f, uint8_t ie)
{
    if (f.data.size() < (size_t)Q931_INFO_LEN)
        return {};
    Q931_info_t qi;
    memcpy(&qi, f.data.data(), sizeof qi);
    const ie_info_t *s = q931_info_slot(&qi, ie);
    if (!s || !s->off || s->off >= f.data.size())
        return {};
    size_t l = f.data[s->off];
    if (s->off + 1 + l > f.data.size())
        return {};
    return std::vector<uint8_t>(f.data.begin() + s->off + 1, f.data.begin() + s->off + 1 + (long)l);
}

int open_app_layer(int port, bool nt, app_layer *out)
{
    int layer = nt ? 2 : 4;
    int fid = mISDN_open();
    if (fid < 1)
        return -1;
    out->fid = fid;
    uint8_t buf[MAX_FRAME_SIZE];
    mISDN_write_frame(fid, nullptr, 0, MGR_NEWENTITY | REQUEST, 0, 0, nullptr, TIMEOUT_1SEC);
    if (mISDN_read_frame(fid, buf, sizeof buf, 0, MGR_NEWENTITY | CONFIRM, TIMEOUT_1SEC) < 16)
        return -1;
    stack_info_t si;
    if (mISDN_get_stack_info(fid, port, &si, sizeof si) < 0)
        return -1;
    layer_info_t li{};
    snprintf(li.name, sizeof li.name, nt ? "net l2" : "user l4");
    li.object_id = -1;
    li.st = si.id;
    li.pid.layermask = 1 << layer;
    li.pid.protocol[layer] = nt ? ISDN_PID_L2_LAPD_NET : ISDN_PID_L4_CAPI20;
    if (mISDN_new_layer(fid, &li) < 0 || mISDN_register_layer(fid, si.id, li.id) < 0)
        return -1;
    int up = mISDN_get_layerid(fid, si.id, layer);
    int low = mISDN_get_layerid(fid, si.id, nt ? 1 : 3);
    if (up < 0 || low < 0)
        return -1;
    out->stid = si.id;
    out->upper = (uint32_t)up;
    out->lower = (uint32_t)low;
    return 0;
}

bool te_app::open(int p)
{
    port = p;
    app_layer a;
    a.fid = -1;
    int r = open_app_layer(port, false, &a);
    fid = a.fid;
    if (r < 0)
        return false;
    upper = a.upper;
    mISDN_write_frame(fid, nullptr, upper | FLG_MSG_BROADCAST, MGR_SHORTSTATUS | REQUEST,
                      (int)(SSTATUS_ALL | SSTATUS_BROADCAST_BIT), 0, nullptr, TIMEOUT_1SEC);
    mISDN_write_frame(fid, nullptr, upper | FLG_MSG_DOWN, PH_ACTIVATE | REQUEST, 0, 0, nullptr, TIMEOUT_1SEC);
    mISDN_write_frame(fid, nullptr, upper | FLG_MSG_DOWN, DL_ESTABLISH | REQUEST, 0, 0, nullptr, TIMEOUT_1SEC);
    return true;
}

void te_app::close()
{
    if (fid > 0)
        mISDN_close(fid);
    fid = -1;
}

int te_app::write(uint32_t prim, int dinfo, const std::vector<uint8_t> &data)
{
    return mISDN_write_frame(fid, nullptr, upper | FLG_MSG_DOWN, prim, dinfo, (int)data.size(),
                             data.empty() ? nullptr : data.data(), TIMEOUT_1SEC);
}

bool te_app::wait(uint32_t prim, int timeout_ms, frame *out)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        for (auto it = pending.begin(); it != pending.end(); ++it)
            if (it->h.prim == prim) {
                if (out)
                    *out = *it;
                pending.erase(it);
                return true;
            }
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        uint8_t buf[MAX_FRAME_SIZE];
        int n = mISDN_read(fid, buf, sizeof buf, (int)left);
        if (n >= mISDN_HEADER_LEN) {
            frame f;
            memcpy(&f.h, buf, mISDN_HEADER_LEN);
            f.data.assign(buf + mISDN_HEADER_LEN, buf + n);
            pending.push_back(std::move(f));
        }
    }
}

bool te_app::wait_cc(uint8_t mt, uint32_t cmd, int timeout_ms, frame *out)
{
    return wait(0x030000u | ((uint32_t)mt << 8) | cmd, timeout_ms, out);
}

std::vector<std::string> tshark_fields(const std::string &trace, const std::string &filter,
                                       const std::vector<std::string> &fields, const std::string &options)
{
    std::string pcap = trace + ".pcapng";
    std::string cmd = "text2pcap -q -D -t '%H:%M:%S.%f' -l 203 '" + trace + "' '" + pcap + "' >/dev/null 2>&1";
    int r = system(cmd.c_str());
    (void)r;
    cmd = "tshark -n " + options + " -r '" + pcap + "'";
    if (!filter.empty())
        cmd += " -Y '" + filter + "'";
    cmd += " -T fields -E separator=/s -E aggregator=,";
    for (const auto &f : fields)
        cmd += " -e " + f;
    cmd += " 2>/dev/null";
    std::vector<std::string> out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char line[4096];
    while (fgets(line, sizeof line, p)) {
        line[strcspn(line, "\n")] = 0;
        out.push_back(line);
    }
    pclose(p);
    return out;
}

std::vector<uint8_t> nt_ind::ie(uint8_t id) const
{
    for (const auto &e : ies)
        if (e.first == id)
            return e.second;
    return {};
}

static int nt_up(manager_t *mgr, msg_t *msg)
{
    nt_app *app = (nt_app *)mgr->application;
    nt_ind ind;
    net_user_head_t h;
    memcpy(&h, msg->data, NET_USER_HEAD_LEN);
    ind.prim = h.prim;
    ind.dinfo = h.dinfo;
    if (h.prim == (0x30500u | CONFIRM) && msg->len >= NET_USER_HEAD_LEN + 4) {
        memcpy(&ind.word, msg->data + NET_USER_HEAD_LEN, 4);
    } else if (net_msg_ies_t *r = net_msg_record(msg)) {
        ind.ces = r->ces;
        // walk the elements behind the record in their order
        const unsigned char *p = (const unsigned char *)(r + 1);
        while (p < msg->tail) {
            uint8_t id = *p;
            if (id & 0x80) {
                ind.ies.push_back({id, {}});
                p++;
                continue;
            }
            if (p + 1 >= msg->tail || p + 2 + p[1] > msg->tail)
                break;
            ind.ies.push_back({id, std::vector<uint8_t>(p + 2, p + 2 + p[1])});
            p += 2 + p[1];
        }
    }
    app->inds.push_back(ind);
    free_msg(msg);
    return 0;
}

static void nt_pump(nt_app *app);

bool nt_app::open(int p, bool ptp, int features)
{
    port = p;
    app_layer a;
    a.fid = -1;
    int r = open_app_layer(port, true, &a);
    fid = a.fid;
    if (r < 0)
        return false;
    lower = a.lower;
    upper = a.upper;
    si_id = a.stid;
    nst.manager = &mgr;
    mgr.nst = &nst;
    mgr.application = this;
    nst.l3_manager = nt_up;
    nst.device = fid;
    nst.cardnr = port;
    nst.d_stid = si_id;
    nst.l1_id = lower;
    nst.l2_id = upper;
    msg_queue_init(&nst.down_queue);
    pthread_mutex_init(&nst.down_mutex, nullptr);
    nst.feature = FEATURE_NET_HOLD | (ptp ? FEATURE_NET_PTP : 0) | features;
    if (Isdnl2Init(&nst) || Isdnl3Init(&nst))
        return false;
    mISDN_write_frame(fid, nullptr, upper | FLG_MSG_DOWN, PH_ACTIVATE | REQUEST, 0, 0, nullptr, TIMEOUT_1SEC);
    running = true;
    pumper = std::thread(nt_pump, this);
    if (ptp) {
        std::lock_guard<std::mutex> g(lock);
        msg_t *m = alloc_msg(64);
        net_user_head_t h{DL_ESTABLISH | REQUEST, 0};
        memcpy(msg_put(m, NET_USER_HEAD_LEN), &h, NET_USER_HEAD_LEN);
        if (nst.manager_l3(&nst, m))
            free_msg(m);
    }
    return true;
}

void nt_app::close()
{
    if (running) {
        running = false;
        pumper.join();
    }
    if (fid > 0) {
        std::lock_guard<std::mutex> g(lock);
        cleanup_Isdnl3(&nst);
        cleanup_Isdnl2(&nst);
        mISDN_close(fid);
    }
    fid = -1;
}

static void nt_pump(nt_app *app)
{
    while (app->running) {
        msg_t *m = alloc_msg(MAX_MSG_SIZE);
        int n = mISDN_read(app->fid, m->data, MAX_MSG_SIZE, 50000);
        if (n < mISDN_HEADER_LEN) {
            free_msg(m);
            continue;
        }
        msg_put(m, n);
        iframe_t h;
        memcpy(&h, m->data, mISDN_HEADER_LEN);
        std::lock_guard<std::mutex> g(app->lock);
        if (h.prim == (MGR_TIMER | INDICATION)) {
            itimer_t *t = find_timer(&app->nst, (int)h.addr);
            free_msg(m);
            if (t) {
                mISDN_write_frame(app->fid, nullptr, h.addr, MGR_TIMER | RESPONSE, 0, 0, nullptr, TIMEOUT_1SEC);
                t->flags &= ~ITIMER_RUNNING;
                t->function(t->data);
            }
            continue;
        }
        if ((h.addr & STACK_ID_MASK) == (app->upper & STACK_ID_MASK) && app->nst.l1_l2 &&
            app->nst.l1_l2(&app->nst, m) == 0)
            continue;
        free_msg(m);
    }
}

int nt_app::request(uint32_t prim, int dinfo, const ie_list &ies)
{
    std::lock_guard<std::mutex> g(lock);
    msg_t *m = net_msg_new(prim, dinfo);
    for (const auto &ie : ies)
        net_msg_add_ie(m, ie.first, ie.second.data(), (int)ie.second.size());
    int r = nst.manager_l3(&nst, m);
    if (r)
        free_msg(m);
    return r;
}

bool nt_app::wait(uint32_t prim, int timeout_ms, nt_ind *out)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> g(lock);
            for (auto it = inds.begin(); it != inds.end(); ++it)
                if (it->prim == prim) {
                    if (out)
                        *out = *it;
                    inds.erase(it);
                    return true;
                }
        }
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

size_t tshark_bad_frames(const std::string &trace, const std::string &options)
{
    return tshark_fields(trace, "_ws.malformed || _ws.expert.severity >= 8388608", {"frame.number"}, options)
        .size();
}
