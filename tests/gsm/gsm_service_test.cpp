// SMS, cell broadcast, USSD and calls through the library against modemsim,
// with python3-gammu decoding and encoding the PDUs.
#include "gsm_fixture.h"
#include "modemsim_client.h"
#include "run_process.h"

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using strings = std::vector<std::string>;

std::string g_spool_in, g_cbm_in, g_cbm_parts;
std::mutex g_cb_lock;
bool g_cbm_expected[GSM_PORT_TABLE];

// Plays the part of call control's event handler for what these tests need:
// reading announced messages, storing broadcast pages, owning CMGS records.
void service_callback(gsm_command *cmd)
{
    g_events.add(cmd);
    std::string r = cmd->response ? cmd->response : "";
    int port = cmd->port;
    if (cmd->event_type == GSM_EVENT_TYPE_CMGS) {
        gsm_sms_free((gsm_outgoing_sms *)cmd->send_cmd);
        return;
    }
    if (cmd->event_type == GSM_EVENT_TYPE_CMGR) {
        gsm_sms_incoming_pdu(g_spool_in.c_str(), (unsigned)port, r.c_str());
        return;
    }
    if (cmd->event_type != 0)
        return;
    std::lock_guard<std::mutex> g(g_cb_lock);
    if (g_cbm_expected[port] && r.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos) {
        g_cbm_expected[port] = false;
        gsm_cbm_incoming_pdu(g_cbm_in.c_str(), g_cbm_parts.c_str(), port, r.c_str());
    } else if (r.rfind("+CBM", 0) == 0) {
        g_cbm_expected[port] = true;
    } else if (r.rfind("+CMTI", 0) == 0) {
        auto *n = libgsm_event_sms_recv(port, 0, r.c_str());
        if (n) {
            char c[32];
            snprintf(c, sizeof c, "AT+CMGR=%d\r\n", n->save_pos);
            gsm_queue_command(port, GSM_EVENT_TYPE_CMGR, c, nullptr, nullptr, 0, 1);
            free(n);
        }
    }
}

strings tool(const strings &args)
{
    strings argv = {system_python(), std::string(TARN_SOURCE_DIR) + "/tests/gsm/pdu_tool.py"};
    argv.insert(argv.end(), args.begin(), args.end());
    process_result r = run_process(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    strings lines;
    size_t s = 0;
    while (s < r.out.size()) {
        size_t e = r.out.find('\n', s);
        if (e == std::string::npos)
            e = r.out.size();
        lines.push_back(r.out.substr(s, e - s));
        s = e + 1;
    }
    return lines;
}

strings dir_files(const std::string &dir)
{
    strings v;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                v.push_back(e->d_name);
        closedir(d);
    }
    std::sort(v.begin(), v.end());
    return v;
}

bool wait_until(const std::function<bool()> &f, int ms = 20000)
{
    for (int i = 0; i < ms / 10; i++) {
        if (f())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return f();
}

class GsmService : public ::testing::Test {
protected:
    std::string root, out, failout;
    std::unique_ptr<modemsim> sim;
    gsm_config_t cfg[GSM_PORT_TABLE] = {};
    gsm_global_config global = {1, nullptr};

    void start(int pdu_mode, const char *model = "GE865")
    {
        root = gsm_test_root();
        gsm_test_clock(5);
        g_events.clear();
        global_gsm_pdu_mode = pdu_mode;
        out = root + "/tmp/sms/out";
        failout = root + "/tmp/sms/failout";
        global.spool_failout = (char *)failout.c_str();
        g_spool_in = root + "/tmp/sms/in";
        g_cbm_in = root + "/tmp/cbm/in";
        g_cbm_parts = root + "/tmp/cbm/parts";
        sim = std::make_unique<modemsim>(root, strings{"--port", std::string("1:model=") + model});
        ASSERT_TRUE(sim->running());
        cfg[1].port = 1;
        snprintf(cfg[1].smsc, sizeof cfg[1].smsc, "+491710760000");
        gsm_cfg_init(&cfg[1]);
        ASSERT_EQ(gsm_init(service_callback, cfg, &global), 1);
        ASSERT_EQ(gsm_port_is_ready(1), 1);
        ASSERT_EQ(gsm_port_is_successfully_initialized(1), 1);
        sim->request({"clear", "1"});
    }
    void TearDown() override
    {
        gsm_shutdown();
        sim.reset();
        global_gsm_pdu_mode = 0;
        remove_tree(root);
    }
    // The bodies the modem received after its prompt, as "CMGS-line|body".
    strings sent_sms(size_t want)
    {
        strings v;
        wait_until([&] { return (v = sim->sms(1)).size() >= want; });
        return v;
    }
};

TEST_F(GsmService, SpooledMessageGoesOutAsPduThatGammuDecodes)
{
    start(1);
    const std::string long_text = std::string(70, 'x') + "\xC3\xBC"; // 71 characters: two parts
    struct {
        const char *file, *number;
        std::string text;
        strings decoded; // number TAB text TAB part/all, per part
    } cases[] = {
        {"a.sms", "+4917012345", "Gr\xC3\xBC\xC3\x9F" "e \"quoted\" \xE2\x98\xBA\xEF\xB8\x8F",
         {"+4917012345\tGr\xC3\xBC\xC3\x9F" "e \"quoted\" \xE2\x98\xBA\xEF\xB8\x8F\t-1/0"}},
        {"b.sms", "0049301234", std::string(70, 'y'), {"+49301234\t" + std::string(70, 'y') + "\t-1/0"}},
        {"c.sms", "0301234", long_text,
         {"0301234\t" + std::string(67, 'x') + "\t1/2", "0301234\txxx\xC3\xBC\t2/2"}},
    };
    size_t total = 0;
    for (auto &c : cases) {
        write_file(out + "/" + c.file, std::string("port=1\nnum=") + c.number + "\nmsg=" + c.text + "\n");
        total += c.decoded.size();
    }
    EXPECT_EQ(gsm_sms_outgoing(out.c_str()), 3);
    strings bodies = sent_sms(total);
    ASSERT_EQ(bodies.size(), total);
    size_t k = 0;
    for (auto &c : cases) {
        for (auto &want : c.decoded) {
            std::string line = bodies[k].substr(0, bodies[k].find('|'));
            std::string pdu = bodies[k].substr(bodies[k].find('|') + 1);
            EXPECT_EQ(line, "AT+CMGS=" + std::to_string(pdu.size() / 2 - 1)) << c.file;
            EXPECT_EQ(tool({"decode", pdu}), strings{want}) << c.file;
            k++;
        }
    }
    // Every part was answered and handed over (the receiver frees it).
    wait_until([&] {
        int n = 0;
        for (auto &e : g_events.all())
            n += e.event_type == GSM_EVENT_TYPE_CMGS;
        return n == (int)total;
    });
    for (auto &e : g_events.all()) {
        if (e.event_type == GSM_EVENT_TYPE_CMGS) {
            EXPECT_NE(e.response.find("+CMGS: "), std::string::npos);
        }
    }
    // The files stay claimed until the receiver of the answer removes them.
    EXPECT_TRUE(access((out + "/a.sms.processing").c_str(), F_OK) == 0);
    EXPECT_EQ(gsm_sms_outgoing(out.c_str()), 0);
}

TEST_F(GsmService, TextModeSendsTheUcs2BodyAfterThePrompt)
{
    start(0);
    write_file(out + "/t.sms", "port=1\nnum=+4917012345\nmsg=Hi \xC3\xBC\n");
    EXPECT_EQ(gsm_sms_outgoing(out.c_str()), 1);
    strings bodies = sent_sms(1);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0], "AT+CMGS=002B0034003900310037003000310032003300340035,145|0048006900200"
                         "0FC");
    auto ev = g_events.wait_for(GSM_EVENT_TYPE_CMGS, "+CMGS: ");
    EXPECT_EQ(ev.event_type, GSM_EVENT_TYPE_CMGS);
    EXPECT_EQ(gsm_sms_last_cmgs_ids[1], 1);
    EXPECT_STREQ(gsm_sms_last_cmgs_number[1], "+4917012345");
}

TEST_F(GsmService, UnsendableFilesLeaveTheSpoolForTheFailOutDirectory)
{
    start(1);
    // A spool that is not the default one: moves must still find the file.
    std::string spool = root + "/spool-elsewhere";
    mkdir(spool.c_str(), 0770);
    struct {
        const char *file, *content, *reason;
    } cases[] = {
        {"n1.sms", "port=1\nnum=0301;234\nmsg=x\n", "InvalidDestinationNumber"},
        {"n2.sms", "port=1\nnum=\xC3\xBC\nmsg=x\n", "InvalidDestinationNumber"},
        {"u1.sms", "port=1\nnum=+49301234\nmsg=bad \x80 utf8\n", "InvalidMessageEncoding"},
        {"p5.sms", "port=5\nnum=+49301234\nmsg=x\n", "Port 5 not configured"},
    };
    for (auto &c : cases)
        write_file(spool + "/" + c.file, c.content);
    write_file(spool + "/nonum.sms", "port=1\nmsg=x\n");
    EXPECT_EQ(gsm_sms_outgoing(spool.c_str()), 3);
    EXPECT_EQ(dir_files(spool), strings{"nonum.sms"});
    std::string report = read_file(root + "/tmp/sms/send_report");
    for (auto &c : cases) {
        std::string name = std::string(c.file).substr(0, 2);
        EXPECT_EQ(read_file(failout + "/" + name + "/message"), c.content);
        EXPECT_EQ(read_file(failout + "/" + name + "/message.log"), std::string(c.reason) + "\n");
        EXPECT_NE(report.find(name + "\t"), std::string::npos);
        EXPECT_NE(report.find("\tERROR:" + std::string(c.reason) + "\n"), std::string::npos);
    }
    EXPECT_TRUE(sim->sms(1).empty() || sim->sms(1) == strings{});
    // The same name again gets a numbered directory.
    write_file(spool + "/n1.sms", "port=1\nnum=x\nmsg=x\n");
    gsm_sms_outgoing(spool.c_str());
    EXPECT_EQ(read_file(failout + "/n1.000/message"), "port=1\nnum=x\nmsg=x\n");
}

TEST_F(GsmService, ReceivedMessagesAreFiledWholeFromTheirParts)
{
    start(1);
    const std::string long7(200, 'A');
    struct {
        const char *name;
        strings pdus;
        bool reverse;
        std::string text;
    } cases[] = {
        {"7-bit", tool({"deliver", "+4917012345", "7bit", "Hello W\xC3\xB6rld @\xC2\xA3$"}), false,
         "Hello W\xC3\xB6rld @\xC2\xA3$"},
        {"UCS2", tool({"deliver", "+4917012345", "ucs2", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\xBA\xEF\xB8\x8F"}), false,
         "Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\xBA\xEF\xB8\x8F"},
        {"7-bit in two parts, last first", tool({"deliver", "+4917012345", "7bit", long7}), true, long7},
    };
    int index = 1;
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        for (auto &f : dir_files(g_spool_in))
            unlink((g_spool_in + "/" + f).c_str());
        strings pdus = c.pdus;
        if (c.reverse)
            std::reverse(pdus.begin(), pdus.end());
        for (auto &p : pdus) {
            sim->store(1, index, p);
            sim->inject(1, "\r\n+CMTI: \"SM\"," + std::to_string(index) + "\r\n");
            ASSERT_NE(sim->expect(1, "AT\\+CMGR=" + std::to_string(index)), "");
            index++;
        }
        ASSERT_TRUE(wait_until([&] { return dir_files(g_spool_in).size() == 1; }));
        // The date is the network's time stamp, rendered yy/mm/dd,hh:mm:ss+zz.
        std::string filed = read_file(g_spool_in + "/000.sms");
        EXPECT_TRUE(std::regex_match(filed.substr(0, 26), std::regex("date=\\d\\d/\\d\\d/\\d\\d,\\d\\d:\\d\\d:\\d\\d[-+]\\d\\d\n"))) << filed;
        EXPECT_EQ(filed.substr(26), "num=+4917012345\nfrom=none\nport=1\nmsg=" + c.text);
    }
    EXPECT_TRUE(dir_files(root + "/tmp/sms/parts").empty());
}

TEST_F(GsmService, SevenBitFillBitsHoldForEveryHeaderLength)
{
    start(1);
    const std::string text = "Fill bits @ every length";
    for (int pad = 0; pad <= 9; pad++) {
        SCOPED_TRACE(pad);
        // A concatenation element (1 of 1) and a further element of pad bytes.
        char udh[64];
        int udhl = 5 + (pad ? pad + 2 : 0);
        int n = snprintf(udh, sizeof udh, "%02X0003AA0101", udhl);
        if (pad) {
            n += snprintf(udh + n, sizeof udh - (size_t)n, "70%02X", pad);
            for (int i = 0; i < pad; i++)
                n += snprintf(udh + n, sizeof udh - (size_t)n, "EE");
        }
        std::string pdu = tool({"deliver7udh", "+4917012345", udh, text})[0];
        EXPECT_EQ(gsm_sms_incoming_pdu(g_spool_in.c_str(), 1, ("+CMGR: 0,,0\r\n" + pdu + "\r\nOK\r").c_str()), 0);
        std::string filed = read_file(g_spool_in + "/000.sms");
        EXPECT_EQ(filed.substr(filed.find("msg=") + 4), text);
        unlink((g_spool_in + "/000.sms").c_str());
    }
}

TEST_F(GsmService, BrokenPdusAreRejectedWithoutFiling)
{
    start(1);
    std::string good = tool({"deliver", "+4917012345", "7bit", "Hello"})[0];
    std::string ucs2 = tool({"deliver", "+4917012345", "ucs2", "Hi"})[0];
    strings broken = {
        "",                                    // nothing
        "FF",                                  // SMSC longer than the PDU
        good.substr(0, 20),                    // ends inside the sender
        good.substr(0, good.size() - 4),       // user data shorter than its length
        ucs2.substr(0, ucs2.size() - 2),
        "0040" + good.substr(18),              // header flag without a header
        "00440A91947110325400004210203040500005" "FF0003AA0101", // header length beyond the data
        "00440A9194711032540000421020304050000A" "0600FFAA010100000000", // element beyond the header
    };
    for (auto &b : broken) {
        gsm_sms_incoming_pdu(g_spool_in.c_str(), 1, ("+CMGR: 0,,0\r\n" + b + "\r\nOK\r").c_str());
        EXPECT_TRUE(dir_files(g_spool_in).empty()) << b;
    }
    EXPECT_EQ(gsm_sms_incoming_pdu(g_spool_in.c_str(), 1, "+CMGR: 0,,0"), -1);
    EXPECT_EQ(gsm_sms_incoming_pdu(g_spool_in.c_str(), 1, "OK"), -1);
}

TEST_F(GsmService, FullIncomingSpoolDropsTheMessage)
{
    start(1);
    for (int i = 0; i < 1000; i++) {
        char n[16];
        snprintf(n, sizeof n, "/%03d.sms", i);
        write_file(g_spool_in + n, "x");
    }
    EXPECT_EQ(gsm_sms_incoming(g_spool_in.c_str(), "24/01/02,03:04:05+00", "+49", 1, "hi", 8, 0), -5);
    EXPECT_EQ(dir_files(g_spool_in).size(), 1000u);
    unlink((g_spool_in + "/500.sms").c_str());
    EXPECT_EQ(gsm_sms_incoming(g_spool_in.c_str(), "24/01/02,03:04:05+00", "+49", 1, "hi", 8, 0), 0);
    EXPECT_EQ(read_file(g_spool_in + "/500.sms"), "date=24/01/02,03:04:05+00\nnum=+49\nfrom=none\nport=1\nmsg=hi");
}

TEST_F(GsmService, TextModeReadAnswerIsParsedAndFiled)
{
    start(0);
    sim->store(1, 4, "+4917012345|24/01/02,03:04:05+04|Hi \xC3\xBC");
    char *answer = nullptr;
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CMGR, "AT+CMGR=4\r\n", nullptr, &answer, 1, 0), 0);
    int dcs = -1, fo = -1;
    auto *d = libgsm_event_sms_read_mem(1, 0, answer, &dcs, &fo);
    free(answer);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->number, "+4917012345");
    EXPECT_STREQ(d->date, "24/01/02,03:04:05+04");
    EXPECT_STREQ(d->msg, "Hi \xC3\xBC");
    EXPECT_EQ(dcs, 8);
    EXPECT_EQ(fo, 4);
    EXPECT_EQ(gsm_sms_incoming(g_spool_in.c_str(), d->date, d->number, 1, d->msg, dcs, fo), 0);
    free(d);
    EXPECT_EQ(dir_files(g_spool_in), strings{"000.sms"});
    // Two parts in text mode (first octet with the header flag).
    EXPECT_EQ(process_multipart_sms(g_spool_in.c_str(), "d", "+49", 1, "050003070202" "0021", 8), 0);
    EXPECT_EQ(process_multipart_sms(g_spool_in.c_str(), "d", "+49", 1, "050003070201" "00480069", 8), 0);
    EXPECT_EQ(read_file(g_spool_in + "/001.sms"), "date=d\nnum=+49\nfrom=none\nport=1\nmsg=Hi!");
    EXPECT_EQ(process_multipart_sms(g_spool_in.c_str(), "d", "+49", 1, "05", 8), -1);
    EXPECT_EQ(process_multipart_sms(g_spool_in.c_str(), "d", "+49", 1, "0500030702", 8), -1);
}

TEST_F(GsmService, DeliveryReportsAreLogged)
{
    start(1);
    int ref = -2;
    // SMS-STATUS-REPORT: reference 0x2A to +4917012345, delivered (status 0).
    EXPECT_EQ(gsm_sms_log_delivery(1, "0006 2A 0A91 9471103254 42102030405000 42102030406000 00", &ref), 0);
    std::string pdu = "00062A0A9194711032544210203040500042102030406000" "00";
    EXPECT_EQ(gsm_sms_log_delivery(1, pdu.c_str(), &ref), 0);
    EXPECT_EQ(ref, 42);
    EXPECT_EQ(gsm_sms_log_delivery(1, "+CDS: 6,45,\"002B0034\",145,\"24/01/02,03:04:05+04\",\"24/01/02,03:04:09+04\",0", &ref), 0);
    EXPECT_EQ(ref, 45);
    std::string r = read_file(root + "/tmp/sms/delivery_report");
    EXPECT_NE(r.find("1\t42\t+4917012345\t24/01/02,03:04:05\t24/01/02,03:04:06\t0\n"), std::string::npos);
    EXPECT_NE(r.find("1\t45\t+4\t24/01/02,03:04:05+04\t24/01/02,03:04:09+04\t0\n"), std::string::npos);
    EXPECT_NE(r.find("1\t\t\t\t\t-1\n"), std::string::npos); // the first, unreadable one
}

TEST_F(GsmService, WebhookPostsEscapedJsonWithAuthenticationAndPrintsNothing)
{
    start(1);
    std::string portfile = root + "/webhook.port", log = root + "/webhook.log";
    pid_t pid = fork();
    if (pid == 0) {
        execl(system_python().c_str(), system_python().c_str(),
              (std::string(TARN_SOURCE_DIR) + "/tests/gsm/webhook_server.py").c_str(), portfile.c_str(),
              log.c_str(), (char *)nullptr);
        _exit(127);
    }
    ASSERT_TRUE(wait_until([&] { return !read_file(portfile).empty(); }));
    std::string url = "http://127.0.0.1:" + read_file(portfile) + "/hook";
    cfg[1].sms_webhook_url = (char *)url.c_str();
    cfg[1].sms_webhook_type = (char *)"3CX";
    cfg[1].sms_webhook_user = (char *)"gw";
    cfg[1].sms_webhook_secret = (char *)"s3cret";
    cfg[1].sms_webhook_id = (char *)"id\"1";
    cfg[1].sms_extension = (char *)"200";
    testing::internal::CaptureStdout();
    EXPECT_EQ(gsm_sms_incoming(g_spool_in.c_str(), "24/01/02,03:04:05+00", "+49\"1", 1,
                               "say \"hi\"\\\n\x01 \xC3\xBC", 8, 0), 0);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.find("SERVER-REPLY-BODY"), std::string::npos);
    ASSERT_TRUE(wait_until([&] { return !read_file(log).empty(); }));
    std::string req = read_file(log);
    write_file(root + "/req.json", req);
    EXPECT_EQ(tool({"json", root + "/req.json"}).size(), 0u);
    EXPECT_NE(req.find("\"Authorization\": \"Basic Z3c6czNjcmV0\""), std::string::npos) << req;
    EXPECT_NE(req.find("application/json"), std::string::npos);
    // The body itself is JSON with every member escaped.
    size_t b = req.find("\"body\": ");
    ASSERT_NE(b, std::string::npos);
    strings argv = {system_python(), "-c",
                    "import json,sys; r=json.loads(open(sys.argv[1]).readline()); d=json.loads(r['body']);"
                    "p=d['data']['payload']; print(d['data']['id'], p['from']['phone_number'], p['to']['phone_number'],"
                    " repr(p['text']), p['received_at'])",
                    root + "/req.json"};
    process_result pr = run_process(argv);
    EXPECT_EQ(pr.out, "id\"1 +49\"1 200 'say \"hi\"\\\\\\n\\x01 \xC3\xBC' 24/01/02,03:04:05+00\n") << pr.err;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    cfg[1].sms_webhook_url = nullptr;
}

TEST_F(GsmService, BroadcastPagesOutOfOrderMakeOneFiledMessage)
{
    start(1);
    global_gsm_cbm_remove_trailing_cr = 1;
    // Two 7-bit pages (82 octets of content each) of serial 0x1234, id 0x0032.
    auto page = [](int n, const std::string &text) {
        std::string t = text + std::string(93 - text.size(), '\r');
        std::string bytes;
        unsigned acc = 0;
        int bits = 0;
        for (unsigned char c : t) {
            unsigned s = c == '\r' ? 0x0D : c; // ASCII letters and blanks map to themselves
            acc |= s << bits;
            bits += 7;
            while (bits >= 8) {
                bytes += (char)(acc & 0xFF);
                acc >>= 8;
                bits -= 8;
            }
        }
        if (bits)
            bytes += (char)acc;
        char head[16];
        snprintf(head, sizeof head, "1234003201%X2", n);
        std::string hex = head;
        for (unsigned char c : bytes.substr(0, 82)) {
            char h[3];
            snprintf(h, sizeof h, "%02X", c);
            hex += h;
        }
        return hex;
    };
    sim->inject(1, "\r\n+CBM: 88\r\n" + page(2, "second page") + "\r\n");
    ASSERT_TRUE(wait_until([&] { return dir_files(g_cbm_parts).size() == 1; }));
    EXPECT_TRUE(dir_files(g_cbm_in).empty());
    sim->inject(1, "\r\n+CBM: 88\r\n" + page(1, "first page ") + "\r\n");
    ASSERT_TRUE(wait_until([&] { return dir_files(g_cbm_in).size() == 1; }));
    std::string m = read_file(g_cbm_in + "/000.cbm");
    EXPECT_NE(m.find("\nport=1\ntype=cbs\nmsg_serial=1234\nmsg_id=0032\ndcs=1\npart=2\nmsg=first page second page"),
              std::string::npos) << m;
    EXPECT_TRUE(wait_until([&] { return dir_files(g_cbm_parts).empty(); }));
    // A page parameter with a zero nibble is a single page, never "n of 0".
    EXPECT_EQ(gsm_cbm_incoming_pdu(g_cbm_in.c_str(), g_cbm_parts.c_str(), 1,
                                   ("1235003201" "20" + page(1, "lone").substr(12)).c_str()), 0);
    EXPECT_EQ(dir_files(g_cbm_in).size(), 2u);
    EXPECT_TRUE(dir_files(g_cbm_parts).empty());
    EXPECT_EQ(gsm_cbm_incoming_pdu(g_cbm_in.c_str(), g_cbm_parts.c_str(), 1, "1234003201"), -1);
    global_gsm_cbm_remove_trailing_cr = 0;
}

TEST_F(GsmService, UssdRequestReturnsTheDecodedAnswer)
{
    start(1);
    sim->set(1, "ussd", "Guthaben: 5,00 \xE2\x82\xAC");
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CUSD, "AT+CUSD=1,*100#,0\r\n", nullptr, nullptr, 0, 1), 0);
    auto ev = g_events.wait_for(0, "+CUSD: ");
    ASSERT_EQ(ev.event_type, 0);
    int m = -1;
    char *text = nullptr;
    EXPECT_EQ(libgsm_parse_cusd(ev.response.c_str(), &m, &text), 1);
    EXPECT_EQ(m, 0);
    EXPECT_STREQ(text, "Guthaben: 5,00 \xE2\x82\xAC");
    free(text);
    EXPECT_NE(sim->expect(1, "^AT\\+CUSD=1,\\*100#,0$"), "");
}

// What may follow ATD: dial characters, then I/i (caller id restricted or
// allowed for this call) and G/g (closed user group), in that order.
TEST(GsmDialString, ModifiersOnlyAtTheEndAndInOrder)
{
    struct {
        const char *number;
        int valid;
    } cases[] = {
        {"301", 1},  {"+49301234", 1}, {"*31#0301", 1}, {"301i", 1}, {"301I", 1}, {"301G", 1},
        {"301ig", 1}, {"301IG", 1},    {"301gi", 0},    {"30i1", 0}, {"i", 0},    {"ig", 0},
        {"301ii", 0}, {"301;", 0},     {"301i;", 0},    {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(gsm_dial_number_is_valid(c.number), c.valid) << c.number;
}

TEST_F(GsmService, CallsDialAnswerAndReportTheirProgress)
{
    start(1);
    // Not a dial string: refused, nothing sent, the port stays idle.
    for (const char *bad : {"0301;+CPIN=0000", "030\r1", "", "12a"})
        EXPECT_EQ(gsm_call_num_port(1, bad, 0), -EINVAL) << bad;
    EXPECT_EQ(gsm_call_num_port(1, nullptr, 0), -EINVAL);
    EXPECT_EQ(gsm_port_get_inuse(1), 0);
    // The CLIR modifier may end a number, and only end it.
    for (const char *good : {"0301234i", "0301234I", "*31#0301234"})
        EXPECT_TRUE(gsm_dial_number_is_valid(good)) << good;
    for (const char *bad : {"i", "I", "03012iI", "030i1234", "0301234ii"})
        EXPECT_FALSE(gsm_dial_number_is_valid(bad)) << bad;

    EXPECT_EQ(gsm_call_num_port(1, "+49301234", 0), 1);
    EXPECT_EQ(gsm_port_get_inuse(1), 1);
    EXPECT_EQ(gsm_call_num_port(1, "0301234", 0), -EBUSY); // the port is taken
    EXPECT_NE(sim->expect(1, "^ATD\\+49301234;$"), "");
    EXPECT_EQ(g_events.wait_for(GSM_EVENT_TYPE_ATD, "OK").event_type, GSM_EVENT_TYPE_ATD);
    auto ringing = g_events.wait_for(0, "#ECAM: 0,2");
    ASSERT_EQ(ringing.event_type, 0);
    int id = -1;
    EXPECT_EQ(libgsm_event_ecam(1, 0, ringing.response.c_str() + 6, &id), 2);
    sim->inject(1, "\r\n#ECAM: 0,3,1,,,\r\n");
    EXPECT_EQ(g_events.wait_for(0, "#ECAM: 0,3").event_type, 0);
    EXPECT_EQ(gsm_call_hangup(1), 1);
    EXPECT_EQ(gsm_port_get_inuse(1), 0);
    EXPECT_NE(sim->expect(1, "^ATH$"), "");
    EXPECT_EQ(g_events.wait_for(GSM_EVENT_TYPE_ATH, "OK").event_type, GSM_EVENT_TYPE_ATH);
    strings sent = sim->commands(1);
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](auto &s) { return s.rfind("ATD", 0) == 0; }), 1);

    // Incoming: RING and the caller's number reach the callback.
    g_events.clear();
    sim->inject(1, "\r\nRING\r\n\r\n+CLIP: \"03012345\",129,\"\",,\"\",0\r\n");
    EXPECT_EQ(g_events.wait_for(0, "RING").response, "RING");
    auto clip = g_events.wait_for(0, "+CLIP");
    _gsm_event_clip_t *c = libgsm_parse_clip(1, clip.response.c_str());
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->number, "03012345");
    free(c);
    EXPECT_EQ(libgsm_port_fetch(1), 1);
    EXPECT_EQ(gsm_call_answ(1), 1);
    EXPECT_NE(sim->expect(1, "^ATA$"), "");
    EXPECT_EQ(g_events.wait_for(0, "#ECAM: 0,3").event_type, 0);
}

TEST_F(GsmService, StatusQueriesAndTheRegistrationLed)
{
    start(1);
    EXPECT_EQ(gsm_net_pin_counter(1), 1);
    EXPECT_EQ(gsm_net_get_signal_quality(1), 1);
    EXPECT_EQ(gsm_net_get_status(1), 1);
    EXPECT_EQ(g_events.wait_for(GSM_EVENT_TYPE_PCT, "#PCT: 3").event_type, GSM_EVENT_TYPE_PCT);
    EXPECT_EQ(g_events.wait_for(GSM_EVENT_TYPE_CSQ, "+CSQ: 17,99").event_type, GSM_EVENT_TYPE_CSQ);
    EXPECT_EQ(g_events.wait_for(GSM_EVENT_TYPE_CREG, "+CREG: 2,1").event_type, GSM_EVENT_TYPE_CREG);
    std::string led = root + "/sys/class/kvxgsm/0/led_state";
    for (auto [status, on] : std::vector<std::pair<int, bool>>{{5, true}, {2, false}, {1, true}, {0, false}}) {
        gsm_update_led_regstatus(1, status);
        EXPECT_EQ(read_file(led), on ? "2" : "0") << status;
    }
    // Not initialised: refused by the queue, 1 all the same.
    EXPECT_EQ(gsm_net_get_status(4), 1);
    EXPECT_EQ(gsm_net_change_pin(1, "12;34", "1111"), 0);
    EXPECT_EQ(gsm_net_change_pin(1, "1234", "1111"), (int)strlen("AT+CPIN=1234,1111\r"));
    EXPECT_NE(sim->expect(1, "^AT\\+CPIN=1234,1111$"), "");
}

} // namespace
