// Calls from ISDN to SIP whose first target fails with a failover cause: the
// INVITE goes on to the SIP group's failover proxy, and in a call group to
// the next member by priority. The gateway's NT port faces q931peer; every
// SIP far end is a sipp answering with a fixed status.
#include <gtest/gtest.h>

#include <memory>
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

// A far end that answers each INVITE with status after checking that its
// Request-URI names user.
std::string answering(const std::string &user, const std::string &status)
{
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<scenario name=\"" + status +
           "\">\n<recv request=\"INVITE\"><action><ereg regexp=\"INVITE sip:" + user +
           "@\" search_in=\"msg\" check_it=\"true\" assign_to=\"seen\"/></action></recv>\n"
           "<Reference variables=\"seen\"/>\n"
           "<send><![CDATA[\n\nSIP/2.0 " + status +
           "\n[last_Via:]\n[last_From:]\n[last_To:];tag=[pid]SIPpTag01[call_number]\n[last_Call-ID:]\n"
           "[last_CSeq:]\nContent-Length: 0\n\n]]></send>\n<recv request=\"ACK\"/>\n</scenario>\n";
}

struct far_end {
    std::string name, addr, status;
    int port = 0;
};

// A SIP group of the localhost stack toward a far end, with more lines.
std::string group(const far_end &f, const std::string &extra)
{
    return "[" + f.name + "]\nsip_stack=localhost\nsip_proxy=" + f.addr + ":" + std::to_string(f.port) + "\n" + extra;
}

TEST(IsdnToSipFailover, FailoverProxyAndNextCallGroupMember)
{
    e2e_world w;
    E2E_REQUIRE(w);
    e2e_isdn_ports isdn(w, "[pbx]\nports=1\nconfig=isdn2sip_destination_numformat=VAZ_UNKNOWN\n", {{1, "nt"}});
    std::vector<far_end> ends = {{"main", "127.0.0.2", "503 Service Unavailable"},
                                 {"backup", "127.0.0.3", "486 Busy Here"},
                                 {"cg1", "127.0.0.4", "503 Service Unavailable"},
                                 {"cg2", "127.0.0.5", "486 Busy Here"}};
    for (far_end &f : ends)
        f.port = free_local_port();
    // 503 is one of the default failover causes
    w.root.write("usr/conf/tarn.sip", w.root.default_sip() + group(ends[0], "config=failover_proxy=backup\n") +
                                          group(ends[1], "") +
                                          group(ends[2], "callgroup_name=grp\ncallgroup_priority=1\n") +
                                          group(ends[3], "callgroup_name=grp\ncallgroup_priority=2\n"));
    // numbers beginning 1 go to the group with a failover proxy, 2 to the
    // call group's first member
    w.root.write("usr/conf/tarn.dialplan", "ISDN\tSIP\t1\tmain\t(1[0-9]*)\t\\1\t(.*)\t\\1\t\n"
                                           "ISDN\tSIP\t1\tg:cg1\t(2[0-9]*)\t\\1\t(.*)\t\\1\t\n");
    std::vector<std::unique_ptr<e2e_child>> uas;
    for (const far_end &f : ends) {
        std::string user = f.name == "main" || f.name == "backup" ? "101" : "202";
        w.root.write(f.name + ".xml", answering(user, f.status));
        uas.push_back(std::make_unique<e2e_child>(
            w, f.name, e2e_sipp_uas(w, w.root.path(f.name + ".xml"), f.addr, f.port, f.name)));
    }
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, isdn.env())) << w.tarn_err();
    for (const far_end &f : ends)
        ASSERT_TRUE(e2e_udp_listening(w, f.addr, f.port)) << f.name;
    e2e_child peer(w, "peer", isdn.peer_argv(1, {"dial 101 4711", "wait hangup_req 30",
                                                 "sleep 500", "dial 202 4711", "wait hangup_req 30"}));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 60000)) << peer.text();
    for (size_t i = 0; i < ends.size(); i++)
        EXPECT_EQ(uas[i]->wait_exit(30000), 0)
            << ends[i].name << ": " << uas[i]->text() << read_text_file(w.root.path(ends[i].name + ".msg"));
    std::string out = w.tarn_out();
    EXPECT_TRUE(has(out, "FAILOVER CAUSE => nua_r_invite[503]")) << out;
    EXPECT_TRUE(has(out, "switched to failover proxy")) << out;
    EXPECT_FALSE(has(out, "get_next_sip_callgroup_alternative is not part of this build")) << out;
}

} // namespace
