// The daemon reads its tables at start.
#include <gtest/gtest.h>

#include <string>

#include "conf_root.h"
#include "run_process.h"

namespace {

process_result start(const conf_root &root, std::vector<std::string> args = {})
{
    std::vector<std::string> argv{tarn_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, "", root.env());
}

TEST(StartUp, CallProgressFileIsReadAndItsBadRowsReported)
{
    conf_root root;
    root.write("usr/conf/tarn.cpt", "; tables\n"
                                    "[s2i:mine]\n"
                                    "nt\tanywhere\tALERTING\t180\n"
                                    "nt\tany_state\tCONNECT\t200\tOK\n"
                                    "[s2fxo:fxo]\n"
                                    "BELL\t200\n");
    process_result r = start(root);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ignoring (1) line 3: anywhere\n"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("unknown1 fxo in event BELL\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("ignoring(3) line 6: BELL\n"), std::string::npos) << r.err;
}

} // namespace
