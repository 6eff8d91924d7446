// Transfer of an active ISDN-to-SIP call by REFER: the called SIP party
// refers the gateway to a target with a Replaces value in the Refer-To URL;
// the gateway calls the target itself (Replaces and Referred-By passed on)
// and reports the progress to the referrer by NOTIFY. The gateway's NT port
// faces q931peer; referrer and target are sipp far ends.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "isdn_calls.h"
#include "run_process.h"

namespace {

std::string scenario(const std::string &name)
{
    return std::string(TARN_SOURCE_DIR) + "/tests/e2e/transfer/" + name;
}

// The value of the first header called name in a message trace, "" when none.
std::string header(const std::string &trace, const std::string &name)
{
    std::istringstream in(trace);
    for (std::string l; std::getline(in, l);)
        if (l.rfind(name + ":", 0) == 0) {
            std::string v = l.substr(name.size() + 1);
            while (!v.empty() && v[0] == ' ')
                v.erase(0, 1);
            while (!v.empty() && (v.back() == '\r' || v.back() == ' '))
                v.pop_back();
            return v;
        }
    return "";
}

TEST(Transfer, ReferWithReplacesOnAnIsdnToSipCall)
{
    e2e_world w;
    E2E_REQUIRE(w);
    e2e_isdn_ports isdn(w, "[pbx]\nports=1\nconfig=isdn2sip_destination_numformat=VAZ_UNKNOWN\n", {{1, "nt"}});
    int referrer_port = free_local_port(), target_port = free_local_port();
    w.root.write("usr/conf/tarn.dialplan", "ISDN\tSIP\t1\t127.0.0.2:" + std::to_string(referrer_port) +
                                               "\t([01][0-9]*)\t\\1\t(.*)\t\\1\t\n");
    ASSERT_TRUE(w.start_tarn({"-o", "-l", "9"}, isdn.env())) << w.tarn_err();
    std::vector<std::string> referrer_argv =
        e2e_sipp_uas(w, scenario("referrer.xml"), "127.0.0.2", referrer_port, "referrer");
    referrer_argv.insert(referrer_argv.end(), {"-key", "target_port", std::to_string(target_port)});
    e2e_child referrer(w, "referrer", referrer_argv);
    e2e_child target(w, "target", e2e_sipp_uas(w, scenario("target.xml"), "127.0.0.1", target_port, "target"));
    ASSERT_TRUE(e2e_udp_listening(w, "127.0.0.2", referrer_port));
    ASSERT_TRUE(e2e_udp_listening(w, "127.0.0.1", target_port));
    std::string hang_up = w.root.path("hang_up");
    e2e_child peer(w, "peer", isdn.peer_argv(1, {"dial 0301 4711", "wait answer 20",
                                                 "waitfile " + hang_up + " 60", "hangup", "sleep 1000"}));

    EXPECT_EQ(referrer.wait_exit(60000), 0) << referrer.text() << read_text_file(w.root.path("referrer.msg"))
                                             << read_text_file(w.root.path("referrer.err"));
    std::ofstream(hang_up) << "now\n";
    EXPECT_EQ(target.wait_exit(30000), 0) << target.text() << read_text_file(w.root.path("target.msg"))
                                          << read_text_file(w.root.path("target.err"));
    EXPECT_TRUE(peer.wait("SCRIPT DONE", 30000)) << peer.text();

    // The target's INVITE: Replaces with the decoded dialog, Referred-By.
    std::string target_msgs = read_text_file(w.root.path("target.msg"));
    std::string replaces = header(target_msgs, "Replaces");
    std::set<std::string> parts;
    std::istringstream in(replaces);
    for (std::string p; std::getline(in, p, ';');)
        parts.insert(p);
    EXPECT_EQ(parts, (std::set<std::string>{"abc@host", "to-tag=1", "from-tag=2"})) << replaces;
    EXPECT_EQ(replaces.substr(0, replaces.find(';')), "abc@host") << "the Call-ID comes first";
    EXPECT_NE(header(target_msgs, "Referred-By").find("sip:500@127.0.0.2"), std::string::npos) << target_msgs;

    // The referrer's reports, each once: the sipfrag status line of every
    // NOTIFY it received.
    std::vector<std::string> frags;
    std::string referrer_msgs = read_text_file(w.root.path("referrer.msg"));
    for (size_t at = referrer_msgs.find("\nNOTIFY sip:"); at != std::string::npos;
         at = referrer_msgs.find("\nNOTIFY sip:", at + 1)) {
        size_t body = referrer_msgs.find("\n\n", at), body_r = referrer_msgs.find("\n\r\n", at);
        if (body_r != std::string::npos && (body == std::string::npos || body_r < body))
            body = body_r + 1;
        if (body == std::string::npos)
            break;
        size_t begin = body + 2, end = referrer_msgs.find('\n', begin);
        std::string line = referrer_msgs.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        frags.push_back(line);
    }
    EXPECT_EQ(frags, (std::vector<std::string>{"SIP/2.0 100 Trying", "SIP/2.0 200 OK"})) << referrer_msgs;
}

} // namespace
