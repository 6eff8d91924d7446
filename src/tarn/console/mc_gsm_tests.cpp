// Console tests of the GSM parsers and modem paths: the incoming-message
// decoders of both modes, delivery reports, the LTE registration
// work-around, the network survey and simulated cell-broadcast reception.
#include "mc_gsm_tests.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "confman.h"
#include "gsm_events.h"
#include "gsm_events_intern.h"
#include "gsm_lib.h"
#include "gsm_settings.h"
#include "gsm_status.h"
#include "platform_path.h"
#include "schema.h"
#include "strtools.h"

int mc_cbm_line_pause_ms = 1000;

namespace {

enum { TEST_PORT = 1, SPOOL_MODE = 0770, SPOOL_OWNER = 1001, SPOOL_GROUP = 1001 };
// Cell-broadcast coding 1: GSM 7-bit default alphabet.
enum { CBM_CODING_7BIT = 0x01, CBM_HEADER_BYTES = 6 };

const char *spool_in()
{
    return gp ? gp->gsm_sms_spool_in : nullptr;
}

// One page as the modem sends it: serial, message id, coding, page
// parameter (page, pages), then the text packed into septets to fill
// length bytes in all, padded with CR.
std::string cbm_page(uint16_t serial, uint16_t id, int page, int pages, const std::string &text, int length)
{
    int content = length - CBM_HEADER_BYTES;
    int septets = content * 8 / 7;
    std::string t = text.substr(0, (size_t)septets);
    t.resize((size_t)septets, '\r');
    std::vector<uint8_t> packed((size_t)content, 0);
    for (int i = 0; i < septets; i++) {
        int bit = i * 7;
        unsigned v = (unsigned char)t[(size_t)i] & 0x7f;
        packed[(size_t)(bit / 8)] |= (uint8_t)(v << (bit % 8));
        if (bit % 8 > 1 && bit / 8 + 1 < content)
            packed[(size_t)(bit / 8 + 1)] |= (uint8_t)(v >> (8 - bit % 8));
    }
    char head[16];
    snprintf(head, sizeof head, "%04X%04X%02X%02X", serial, id, CBM_CODING_7BIT, (page << 4) | pages);
    std::string hex = head;
    for (uint8_t b : packed) {
        char x[3];
        snprintf(x, sizeof x, "%02X", b);
        hex += x;
    }
    return hex + "\r\n";
}

std::string cbm_header(int length)
{
    return "+CBM: " + std::to_string(length) + "\r\n";
}

struct page_spec {
    int page, pages, length;
    const char *text;
};

// Header and PDU of each page.
std::vector<std::string> pages_of(uint16_t serial, uint16_t id, std::initializer_list<page_spec> pages)
{
    std::vector<std::string> lines;
    for (const page_spec &p : pages) {
        lines.push_back(cbm_header(p.length));
        lines.push_back(cbm_page(serial, id, p.page, p.pages, p.text, p.length));
    }
    return lines;
}

const uint16_t AREA_INFO = 0x0032, EMERGENCY_ALERT = 0x1112;

const char *const TITLES[] = {
    "single-part CBM",
    "single-part CBM",
    "multi-part CBM",
    "multi-part CBM",
    "incomplete multi-part CBM",
    "alarmtag2024",
    "alarmtag2024_incomplete",
    "URC between +CBM header and PDU",
    "truncated PDU",
};

// The incoming spool exists (read from the GSM configuration when the
// daemon has not set it yet), made 0770 for 1001:1001 when missing.
void prepare_spool()
{
    if (!gp)
        return;
    if (!gp->gsm_sms_spool_in || !gp->gsm_sms_spool_in[0]) {
        char path[256] = "";
        if (gp->config_gsm && cm_get(gp->config_gsm, path, sizeof path, 0, CFG_GSM_SMS_SPOOL_IN) == 0 && path[0]) {
            free(gp->gsm_sms_spool_in);
            gp->gsm_sms_spool_in = strdup(path);
        }
    }
    const char *dir = spool_in();
    struct stat st;
    if (dir && dir[0] && stat(dir, &st) != 0)
        create_directory(dir, SPOOL_MODE, SPOOL_OWNER, SPOOL_GROUP);
}

// A modem line handed to the event handler as the port's reader hands an
// unsolicited line over: without its CR LF.
void feed_unsolicited(const std::string &line)
{
    std::string text;
    for (char c : line)
        if (c != '\r' && c != '\n')
            text += c;
    gsm_command cmd{};
    cmd.port = TEST_PORT;
    cmd.event_type = 0;
    cmd.response = text.data();
    gsm_event_handler(&cmd);
}

int gsm_port_number(const char *arg)
{
    char *end = nullptr;
    long port = strtol(arg ? arg : "", &end, 10);
    if (!arg || end == arg || port < 1 || port > GSM_MAX_PORTS)
        return -1;
    return (int)port;
}

} // namespace

std::vector<std::string> mc_cbm_test_lines(int n)
{
    switch (n) {
    case 0:
        return pages_of(0x3000, AREA_INFO, {{1, 1, 88, "Test 0: a single page cell broadcast."}});
    case 1:
        return pages_of(0x3010, AREA_INFO, {{1, 1, 88, "Test 1: another single page cell broadcast."}});
    case 2:
        return pages_of(0x3020, AREA_INFO,
                        {{1, 3, 88, "Test 2 page one of three: the first part of a longer broadcast text, "},
                         {2, 3, 88, "page two of three carries the middle of the text, "},
                         {3, 3, 69, "and page three ends it."}});
    case 3:
        return pages_of(0x3030, AREA_INFO,
                        {{1, 3, 88, "Test 3, another message of three pages. "},
                         {2, 3, 88, "Its second page. "},
                         {3, 3, 70, "Its last page is one byte longer."}});
    case 4:
        return pages_of(0x3040, AREA_INFO,
                        {{1, 3, 88, "Test 4, page one of three that never become complete. "},
                         {2, 3, 88, "Page two; page three is never sent."}});
    case 5:
        return pages_of(0x3050, EMERGENCY_ALERT,
                        {{1, 3, 88, "Warntag 2024: Probewarnung des bundesweiten Warntags. "},
                         {2, 3, 88, "Es besteht keine Gefahr. Dies ist nur ein Test. "},
                         {3, 3, 66, "Ende der Probewarnung."}});
    case 6:
        return pages_of(0x3060, EMERGENCY_ALERT, {{1, 3, 88, "Warntag 2024: nur die erste von drei Seiten. "}});
    case 7: {
        std::vector<std::string> l = pages_of(0x3070, AREA_INFO, {{1, 1, 88, "Test 7: a URC came in between."}});
        l.insert(l.begin() + 1, "+CIEV: rssi,3\r\n");
        return l;
    }
    case 8: {
        std::vector<std::string> l = pages_of(0x3080, AREA_INFO, {{1, 1, 40, "Test 8: cut short."}});
        l[0] = cbm_header(88);
        return l;
    }
    default:
        return {};
    }
}

int mc_gsm_test_pdu_mode_incoming_sms(const char *arg, FILE *, int *)
{
    std::string answer = std::string("AT\r\n") + (arg ? arg : "") + "\r\n";
    gsm_sms_incoming_pdu(spool_in(), TEST_PORT, answer.c_str());
    return 0;
}

int mc_gsm_test_pdu_mode_incoming_cds(const char *arg, FILE *out, int *)
{
    int ref = -1;
    gsm_sms_log_delivery(TEST_PORT, arg ? arg : "", &ref);
    fprintf(out, "Parsed msg id %i\n", ref);
    return 0;
}

int mc_gsm_test_text_mode_incoming_sms(const char *, FILE *, int *)
{
    std::string answer;
    if (!gsm_read_small_file(platform_path("/tmp/test.sms").c_str(), answer, 1024))
        return 0;
    int dcs = 0, first_octet = 0;
    _gsm_event_sms_read_t *r = libgsm_event_sms_read_mem(TEST_PORT, 0, answer.c_str(), &dcs, &first_octet);
    if (!r)
        return 0;
    gsm_sms_incoming(spool_in(), r->date, r->number, TEST_PORT, r->msg, dcs, first_octet);
    free(r);
    return 0;
}

int mc_test_lte_register_workaround(const char *arg, FILE *out, int *)
{
    int port = gsm_port_number(arg);
    gsm_port_info *pi = port > 0 ? gsm_info_of_port(port) : nullptr;
    if (!pi)
        return 0;
    fprintf(out, "TESTING %i\n", port);
    pi->reg_status = 0;
    global_gsm_port_needs_reregister[port] = 1;
    return 0;
}

int mc_gsm_csurv(const char *arg, FILE *, int *)
{
    int port = gsm_port_number(arg);
    if (port < 0)
        return 0;
    char *answer = nullptr;
    gsm_queue_command(port, GSM_EVENT_TYPE_CSURV, "AT#CSURV", nullptr, &answer, 1, 0);
    free(answer);
    return 0;
}

int mc_simulate_gsm_cbm_read(const char *arg, FILE *out, int *)
{
    int n = atoi(arg ? arg : "");
    std::vector<std::string> lines = mc_cbm_test_lines(n);
    if (lines.empty()) {
        fputs("Not testing.\n", out);
        return 0;
    }
    fprintf(out, "Running test %i, %s\n", n, TITLES[n]);
    fflush(out);
    prepare_spool();
    for (size_t i = 0; i < lines.size(); i++) {
        if (i > 0 && mc_cbm_line_pause_ms > 0)
            usleep((useconds_t)mc_cbm_line_pause_ms * 1000);
        if (i % 2 == 0) {
            puts("##################################");
            fflush(stdout);
        }
        feed_unsolicited(lines[i]);
    }
    return 0;
}
