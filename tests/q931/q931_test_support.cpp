#include "q931_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"

msg_t *frame_from_wire(const octets &wire, int nt, uint32_t cmd, int dinfo, int ces)
{
    int len = (int)wire.size();
    if (len < 3 || wire[0] != 0x08)
        return nullptr;
    int crlen = wire[1] & 0x0F;
    if ((wire[1] & 0xF0) || crlen > 2 || len < 3 + crlen)
        return nullptr;
    uint8_t mt = wire[2 + crlen];
    uint32_t prim = 0x030000u | ((uint32_t)mt << 8) | (cmd & 0xFF);
    msg_t *m = create_l3msg(prim, mt, dinfo, NT_RECORD_SIZE, nt);
    if (!nt) {
        Q931_info_t *qi = (Q931_info_t *)(m->data + mISDN_FRAME_HEAD_SIZE);
        qi->crlen = (uint8_t)crlen;
        int cr = 0;
        for (int i = 0; i < crlen; i++)
            cr = (cr << 8) | wire[2 + i];
        qi->cr = (uint16_t)cr;
    }
    l3_frame_set_ces(m, nt, ces);
    int p = 3 + crlen, codeset = 0, locked = 0;
    while (p < len) {
        uint8_t o = wire[p];
        if ((o & 0xF0) == 0x90) {  // shift
            if (o & 0x08)
                codeset = o & 0x07;
            else
                codeset = locked = o & 0x07;
            p++;
            continue;
        }
        int single = (o & 0x80) != 0;
        if (!single && (p + 1 >= len || p + 2 + wire[p + 1] > len))
            break;
        int clen = single ? 0 : wire[p + 1];
        if (codeset == 0)
            l3_ie_add(m, nt, o, single ? nullptr : &wire[p + 2], clen);
        codeset = locked;
        p += single ? 1 : 2 + clen;
    }
    if (!nt) {
        int32_t flen = m->len - mISDN_FRAME_HEAD_SIZE;
        memcpy(m->data + 12, &flen, 4);
    }
    return m;
}

// Wire order: ascending identifiers with Sending complete first; every
// occurrence of an element right after the first.
static const uint8_t wire_order[] = {IE_COMPLETE,    IE_BEARER,     IE_CAUSE,       IE_CALL_ID,
                                     IE_CALL_STATE,  IE_CHANNEL_ID, IE_FACILITY,    IE_PROGRESS,
                                     IE_NET_FAC,     IE_NOTIFY,     IE_DISPLAY,     IE_DATE,
                                     IE_KEYPAD,      IE_SIGNAL,     IE_CONNECT_PN,  IE_CONNECT_SUB,
                                     IE_CALLING_PN,  IE_CALLING_SUB, IE_CALLED_PN,  IE_CALLED_SUB,
                                     IE_REDIR_NR,    IE_TRANSIT_NET_SEL, IE_RESTART_IND, IE_LLC,
                                     IE_HLC,         IE_USER_USER};

octets frame_ies(const msg_t *msg, int nt)
{
    octets out;
    for (uint8_t ie : wire_order) {
        for (int n = 0;; n++) {
            const unsigned char *p = l3_ie_get(msg, nt, ie, n);
            if (!p)
                break;
            out.push_back(ie);
            if (!(ie & 0x80))
                out.insert(out.end(), p, p + 1 + p[0]);
        }
    }
    return out;
}

octets frame_to_wire(const msg_t *msg, int nt, int crlen, int cr, int flag)
{
    uint8_t mt = l3_frame_mt(msg, nt);
    if ((l3_frame_prim(msg, nt) & 0xFF) == L3_RESPONSE && mt == MT_CONNECT)
        mt = MT_CONNECT_ACKNOWLEDGE;
    octets out = {0x08, (uint8_t)crlen};
    if (crlen == 1) {
        out.push_back((uint8_t)((flag ? 0x80 : 0) | (cr & 0x7F)));
    } else if (crlen == 2) {
        out.push_back((uint8_t)((flag ? 0x80 : 0) | ((cr >> 8) & 0x7F)));
        out.push_back((uint8_t)(cr & 0xFF));
    }
    out.push_back(mt);
    octets ies = frame_ies(msg, nt);
    out.insert(out.end(), ies.begin(), ies.end());
    return out;
}

bool tshark_available()
{
    return system("command -v tshark >/dev/null 2>&1 && command -v text2pcap >/dev/null 2>&1") == 0;
}

static std::string run(const std::string &cmd)
{
    std::string out;
    FILE *f = popen(cmd.c_str(), "r");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        out.append(buf, n);
    pclose(f);
    return out;
}

tshark_result tshark_decode(const std::vector<octets> &msgs, const std::vector<std::string> &fields,
                            const std::string &options)
{
    tshark_result r;
    char tmpl[] = "/tmp/q931_tshark_XXXXXX";
    if (!mkdtemp(tmpl)) {
        r.error = "mkdtemp failed";
        return r;
    }
    std::string dir = tmpl;
    {
        std::ofstream txt(dir + "/in.txt");
        for (const octets &m : msgs) {
            for (size_t i = 0; i < m.size(); i += 16) {
                char off[24];
                snprintf(off, sizeof(off), "%06zx", i);
                txt << off;
                for (size_t j = i; j < m.size() && j < i + 16; j++) {
                    char b[4];
                    snprintf(b, sizeof(b), " %02x", m[j]);
                    txt << b;
                }
                txt << "\n";
            }
        }
    }
    std::string cmd = "text2pcap -q -P q931 " + dir + "/in.txt " + dir + "/out.pcap 2>&1";
    std::string t2p = run(cmd);
    std::string q = "tshark " + options + " -r " + dir + "/out.pcap -T fields -E separator='|' -E occurrence=a -E aggregator=,"
                    " -e _ws.malformed -e _ws.expert.severity";
    for (const std::string &f : fields)
        q += " -e " + f;
    q += " 2>/dev/null";
    std::string out = run(q);
    std::filesystem::remove_all(dir);
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        if (nl == std::string::npos)
            nl = out.size();
        std::string line = out.substr(pos, nl - pos);
        pos = nl + 1;
        std::vector<std::string> cols;
        size_t s = 0;
        for (;;) {
            size_t bar = line.find('|', s);
            cols.push_back(line.substr(s, bar == std::string::npos ? std::string::npos : bar - s));
            if (bar == std::string::npos)
                break;
            s = bar + 1;
        }
        if (cols.size() != fields.size() + 2)
            continue;
        tshark_packet p;
        for (size_t i = 0; i < fields.size(); i++)
            p[fields[i]] = cols[i + 2];
        // an expert severity of error (0x00800000) marks a decoding fault
        bool bad = !cols[0].empty() || cols[1].find("8388608") != std::string::npos;
        if (bad) {
            r.malformed++;
            r.bad.push_back((int)r.packets.size());
        }
        r.packets.push_back(p);
    }
    if (r.packets.size() != msgs.size())
        r.error = "tshark gave " + std::to_string(r.packets.size()) + " packets for " +
                  std::to_string(msgs.size()) + ": " + t2p;
    return r;
}

static std::mutex capture_mutex;
static log_capture *active_capture = nullptr;

static void capture_log(int, int, int, const char *, int, const char *, const char *format, ...)
{
    char line[4096];
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof(line), format, ap);
    va_end(ap);
    std::lock_guard<std::mutex> g(capture_mutex);
    if (active_capture)
        active_capture->lines.push_back(line);
}

log_capture::log_capture()
{
    std::lock_guard<std::mutex> g(capture_mutex);
    active_capture = this;
    _cb_log = capture_log;
}

log_capture::~log_capture()
{
    std::lock_guard<std::mutex> g(capture_mutex);
    active_capture = nullptr;
    _cb_log = nullptr;
}

bool log_capture::has(const std::string &text) const
{
    for (const std::string &l : lines)
        if (l.find(text) != std::string::npos)
            return true;
    return false;
}

static int test_port_facts(int port, q931_port_facts *out)
{
    switch (port) {
    case 1: *out = {0, 1, 0}; return 0;
    case 2: *out = {1, 2, 0}; return 0;
    case 3: *out = {0, 2, 0}; return 0;
    default: return -1;
    }
}

void install_test_ports()
{
    q931_hooks h{};
    h.port_facts = test_port_facts;
    q931_set_hooks(&h);
}

void fresh_bc(misdn_bchannel *bc, int port, int nt)
{
    memset(bc, 0, sizeof(*bc));
    bc->port = port;
    bc->nt = nt;
    bc->pid = 7;
    bc->l3_id = 0x4001;
    bc->dton = bc->rton = bc->oton = bc->cton = bc->o2ton = NUMTYPE_UNKNOWN;
    bc->dnpi = bc->rnpi = bc->onpi = bc->cnpi = bc->o2npi = NUMPLAN_ISDN;
    bc->progress_indicator = bc->progress_location = bc->progress_coding = -1;
    bc->capability = 0;
    bc->law = 3;
    bc->rate = 16;
    bc->out_cause = 16;
    bc->cpres = bc->cscreen = 0;
    bc->qsig_local_name_pres = 1;
}

std::string hex(const octets &o)
{
    std::string s;
    char b[4];
    for (uint8_t c : o) {
        snprintf(b, sizeof(b), "%02x", c);
        s += b;
    }
    return s;
}

octets unhex(const std::string &text)
{
    octets o;
    int hi = -1;
    for (char c : text) {
        int v = isdigit((unsigned char)c) ? c - '0' : (isxdigit((unsigned char)c) ? (tolower(c) - 'a' + 10) : -1);
        if (v < 0)
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            o.push_back((uint8_t)(hi * 16 + v));
            hi = -1;
        }
    }
    return o;
}

std::string shared_data_path(const std::string &file)
{
    std::string dir = TARN_SOURCE_DIR;
    while (!dir.empty()) {
        std::string p = dir + "/../shared/data/" + file;
        if (std::ifstream(p).good())
            return p;
        size_t slash = dir.find_last_of('/');
        dir = slash == std::string::npos ? "" : dir.substr(0, slash);
    }
    return "";
}
