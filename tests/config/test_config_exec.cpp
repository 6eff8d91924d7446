// "#exec": the command's output is parsed like an included file, through a
// private temporary file below the platform root that is removed afterwards.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "ast_config.h"
#include "test_support.h"

using namespace cfgtest;

namespace {

std::string dump(const ast_config *cfg)
{
    std::string s;
    for (const ast_category *c = cfg->root; c; c = c->next) {
        s += "[" + std::string(c->name) + "]\n";
        for (const ast_variable *v = c->root; v; v = v->next)
            s += std::string(v->name) + "=" + v->value + "@" + std::to_string(v->lineno) + "\n";
    }
    return s;
}

class ConfigExec : public ::testing::Test {
  protected:
    temp_dir root;
    void SetUp() override { setenv("TARN_ROOT", root.path.c_str(), 1); }
    void TearDown() override { unsetenv("TARN_ROOT"); }
    void make_var_tmp()
    {
        ASSERT_EQ(mkdir((root.path + "/var").c_str(), 0700), 0);
        ASSERT_EQ(mkdir((root.path + "/var/tmp").c_str(), 01777), 0);
    }
    std::string load(const std::string &text, std::string *out)
    {
        temp_dir files;
        std::string path = files.file("x.conf", text);
        ast_config *cfg = nullptr;
        *out = captured([&] { cfg = ast_config_load(path.c_str()); });
        std::string d = cfg ? dump(cfg) : "(failed)";
        ast_config_destroy(cfg);
        return d;
    }
};

TEST_F(ConfigExec, OutputIsParsedLikeAnInclude)
{
    make_var_tmp();
    struct {
        const char *name;
        const char *text;
        const char *dump;
        const char *output;
    } const cases[] = {
        {"header and line", "#exec printf '[g]\\na=b\\n'\n", "[g]\na=b@2\n", ""},
        {"top lines go to the current category", "[c]\n#exec echo x=1\ny = 2\n",
         "[c]\nx=1@1\ny=2@3\n", ""},
        {"lines after the directive stay in their category",
         "[c]\n#exec printf '[g]\\na=b\\n'\nafter = 1\n", "[c]\nafter=1@3\n[g]\na=b@2\n", ""},
        {"standard error is read too", "[c]\n#EXEC echo q=3 1>&2\n", "[c]\nq=3@1\n", ""},
        {"quotes and angle brackets around the command", "[c]\n#exec \"<echo w=4>\"\n",
         "[c]\nw=4@1\n", ""},
        {"a command that fails", "[c]\n#exec exit 3\nk = 1\n", "[c]\nk=1@3\n", ""},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        std::string out;
        EXPECT_EQ(load(tc.text, &out), tc.dump);
        EXPECT_EQ(out, tc.output);
        EXPECT_TRUE(root.entries("var/tmp").empty()) << "temporary file left behind";
    }
}

TEST_F(ConfigExec, PlantedLinksAtPredictableNamesAreNeverFollowed)
{
    // Someone who can write the shared directory plants links at every name
    // a time-and-thread scheme could pick; the victim must stay untouched.
    make_var_tmp();
    std::string victim = root.file("victim", "precious\n");
    time_t now = time(nullptr);
    const long tids[] = {(long)gettid(), (long)pthread_self(), (long)getpid()};
    int planted = 0;
    for (time_t t = now - 1; t <= now + 3; t++)
        for (long tid : tids) {
            std::string link = root.path + "/var/tmp/exec." + std::to_string((long)t) + "." +
                               std::to_string(tid);
            if (symlink(victim.c_str(), link.c_str()) == 0)
                planted++;
        }
    ASSERT_GT(planted, 0);
    std::string out;
    EXPECT_EQ(load("[c]\n#exec echo k=1\n", &out), "[c]\nk=1@1\n");
    std::ifstream in(victim);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "precious\n");
    EXPECT_EQ((int)root.entries("var/tmp").size(), planted);
}

TEST_F(ConfigExec, MissingDirectoryIsReportedAndParsingGoesOn)
{
    std::string out;
    EXPECT_EQ(load("[c]\n#exec echo k=1\nz = 2\n", &out), "[c]\nz=2@3\n");
    EXPECT_EQ(out, "Cannot create the output file of '#exec' in " + root.path +
                       "/var/tmp: No such file or directory\n");
}

} // namespace
