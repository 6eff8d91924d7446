// ISDN facilities on calls from SIP: a deflection request of the called
// ISDN party (q931peer as user on the gateway's NT port) answered with a
// 302 toward SIP, or refused with a ReturnError when the line does not allow
// deflection; advice of charge from the network (q931peer as network on the
// gateway's TE port) passed to SIP by INFO, or not with
// sip_info_on_facility off. The SIP caller is sipp.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "isdn_calls.h"
#include "run_process.h"

namespace {

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

std::string scenario(const std::string &name)
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/facilities/" + name;
}

// The requests of method received in a sipp message trace, each whole.
std::vector<std::string> received(const std::string &trace, const std::string &method)
{
    std::vector<std::string> out;
    const std::string mark = "\n" + method + " sip:";
    for (size_t at = trace.find(mark); at != std::string::npos; at = trace.find(mark, at + 1)) {
        size_t end = trace.find("\n----------", at);
        out.push_back(trace.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1));
    }
    return out;
}

struct facility_world {
    e2e_world w;
    std::unique_ptr<e2e_isdn_ports> isdn;
    int uac_port = 0;

    bool start()
    {
        if (!w.ok())
            return false;
        // port 1: the gateway is the network toward a called user; port 2:
        // the gateway is a user of the network that charges
        isdn = std::make_unique<e2e_isdn_ports>(w, "[nt]\nports=1\n[te]\nports=2\n",
                                                std::vector<e2e_isdn_port>{{1, "nt"}, {2, "te"}});
        auto line = [](const std::string &to, const std::string &pattern, const std::string &config) {
            return "SIP\tISDN\t*\t" + to + "\t" + pattern + "\t\\0\t*\t\\0\t" + config + "\n";
        };
        w.root.write("usr/conf/tarn.dialplan",
                     line("1", "51.*", "cd=1,call_forwarding_mode=0,sip_302_contact_url=gw.test:5070") +
                         line("1", "52.*", "cd=0") +
                         line("2", "61.*", "aoc_on_sip=AOC-Header|X-ClientCode,sip_info_on_facility=1") +
                         line("2", "62.*", "aoc_on_sip=AOC-Header|X-ClientCode,sip_info_on_facility=0"));
        uac_port = free_local_port();
        return w.start_tarn({"-o", "-l", "9"}, isdn->env());
    }
    // One call of the sipp caller to number with scenario name, to its end.
    process_result call(const std::string &name, const std::string &number)
    {
        return w.ns.run({"sipp", "-sf", scenario(name), "-s", number, "-m", "1", "-i", "127.0.0.1", "-p",
                         std::to_string(uac_port), "-timeout", "40s", "-timeout_error", "-nostdin", "-trace_msg",
                         "-message_file", w.root.path(number + ".msg"),
                         "127.0.0.1:" + std::to_string(w.root.sip_port)},
                        "", {}, 60);
    }
};

// The gateway's NT port: a deflection request while the call rings gives
// the SIP caller a 302 to the deflected-to number at the line's contact
// address; on a line without deflection the request gets a ReturnError
// (errorValue 1, the request's invoke id) and the call goes on to its answer.
TEST(SipToIsdnFacilities, DeflectionRequestOfTheCalledUser)
{
    facility_world f;
    E2E_REQUIRE(f.w);
    ASSERT_TRUE(f.start()) << f.w.tarn_err();
    e2e_child called(f.w, "called",
                     f.isdn->peer_argv(1, {"wait ring 30", "alerting", "sleep 300", "reroute 555",
                                           "sleep 1000", "wait ring 30", "alerting", "sleep 300", "reroute 555",
                                           "sleep 1000", "answer", "wait hangup_req 30"}));
    ASSERT_TRUE(called.wait("UP", 30000)) << called.text();
    process_result r = f.call("uac_302.xml", "5101");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("5101.msg"));
    r = f.call("uac_call.xml", "5201");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("5201.msg"));
    EXPECT_TRUE(called.wait("SCRIPT DONE", 30000)) << called.text();

    // the user's requests (commands C/R 0) and the gateway's answers (C/R 1)
    auto rose = [&](const std::string &filter) {
        const std::string &trace = f.isdn->port(1).trace;
        process_result t = run_process(
            {"bash", "-c",
             "text2pcap -q -D -t '%H:%M:%S.%f' -l 203 '" + trace + "' '" + trace + ".pcap' >/dev/null 2>&1 && " +
                 "tshark -n -r '" + trace + ".pcap' -Y '" + filter + "' -T fields -e q932.ros.invokeId -e q932.ros.local"},
            "", {}, 60);
        return t.out;
    };
    std::istringstream requests(rose("q932.ros.invoke_element && lapd.cr == 0"));
    std::vector<std::string> ids;
    for (std::string l; std::getline(requests, l);)
        ids.push_back(l.substr(0, l.find('\t')));
    ASSERT_EQ(ids.size(), 2u) << "two deflection requests";
    EXPECT_EQ(rose("q932.ros.returnError_element && lapd.cr == 1"), ids[1] + "\t1\n");
}

// The gateway's TE port: AOC-D in units sends an INFO with the AOC header,
// its X-ClientCode twin and the facility's X-DV_FACILITY line; in currency
// only the X-ClientCode line; with sip_info_on_facility 0 nothing.
TEST(SipToIsdnFacilities, AdviceOfChargeBySipInfo)
{
    facility_world f;
    E2E_REQUIRE(f.w);
    ASSERT_TRUE(f.start()) << f.w.tarn_err();
    e2e_child network(f.w, "network",
                      f.isdn->peer_argv(2, {"wait ring 30", "answer", "sleep 1000", "aoc-d units 5",
                                            "sleep 1000", "aoc-d currency EUR 150", "wait hangup_req 30",
                                            "wait ring 30", "answer", "sleep 500", "aoc-d units 7",
                                            "wait hangup_req 30"}));
    ASSERT_TRUE(network.wait("UP", 30000)) << network.text();
    process_result r = f.call("uac_aoc.xml", "6101");
    EXPECT_EQ(r.status, 0) << r.out << r.err << read_text_file(f.w.root.path("6101.msg"));
    r = f.call("uac_call.xml", "6201");
    EXPECT_EQ(r.status, 0) << "no INFO: " << r.out << r.err << read_text_file(f.w.root.path("6201.msg"));
    EXPECT_TRUE(network.wait("SCRIPT DONE", 30000)) << network.text();

    std::vector<std::string> infos = received(read_text_file(f.w.root.path("6101.msg")), "INFO");
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_TRUE(has(infos[0], "\nAOC: charging;state=active;charging-info=pulse;recorded-units=5;")) << infos[0];
    EXPECT_TRUE(has(infos[0], "\nX-ClientCode: charging;state=active;charging-info=pulse;recorded-units=5;"))
        << infos[0];
    EXPECT_TRUE(has(infos[0], "\nX-DV_FACILITY: ")) << infos[0];
    EXPECT_TRUE(has(infos[1], "\nX-ClientCode: charging;state=active;charging-info=currency;currency=EUR;amount=150"))
        << infos[1];
    EXPECT_FALSE(has(infos[1], "\nAOC: ")) << infos[1];
}

} // namespace
