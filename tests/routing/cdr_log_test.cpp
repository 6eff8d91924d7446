#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "application.h"
#include "cdr_log.h"
#include "global_lock.h"
#include "routing_fixture.h"

namespace {

class CdrLog : public RoutingTest {
protected:
    void SetUp() override
    {
        RoutingTest::SetUp();
        gp->log_cdr = 0;
        gp->cdr_fp = nullptr;
        gp->cdr_log_do_flush = 0;
        snprintf(gp->cdr_log_path, sizeof gp->cdr_log_path, "%s", dir.c_str());
    }
    void TearDown() override
    {
        cdr_log_end_thread();
        if (gp->cdr_fp)
            fclose(gp->cdr_fp);
        gp->cdr_fp = nullptr;
        gp->log_cdr = 0;
        RoutingTest::TearDown();
    }
    // Every pending request served: the thread is ended and joined (the
    // next request creates it again).
    static void served()
    {
        cdr_log_end_thread();
        ASSERT_FALSE(cdr_log_thread_exists());
        ASSERT_EQ(gp->cdr_log_do_flush, 0);
    }
    static void write_line(const char *line)
    {
        lock_hold hold(&lock_manager::cdr_lock);
        ASSERT_NE(gp->cdr_fp, nullptr);
        fprintf(gp->cdr_fp, "%s\n", line);
    }
    std::string path(const char *name) const { return dir + "/" + name; }
    bool exists(const char *name) const { return access(path(name).c_str(), F_OK) == 0; }
    std::string text(const char *name) const
    {
        std::ifstream in(path(name));
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

// The daemon's stop closes the file where it is; the next start appends, so
// stops and starts in a row keep every run's records.
TEST_F(CdrLog, StopsAndStartsKeepEveryRunsRecords)
{
    for (const char *line : {"run1", "run2", "run3"}) {
        cdr_log_start();
        served();
        write_line(line);
        cdr_log_close();
        EXPECT_EQ(gp->cdr_fp, nullptr);
        EXPECT_FALSE(cdr_log_thread_exists());
    }
    EXPECT_EQ(text("tarn.cdr"), "run1\nrun2\nrun3\n");
    EXPECT_FALSE(exists("tarn.cdr.1"));
}

TEST_F(CdrLog, RotationMovesTheFileAsideWithItsModeAndOwner)
{
    cdr_log_start();
    served();
    ASSERT_NE(gp->cdr_fp, nullptr);
    EXPECT_TRUE(exists("tarn.cdr"));
    write_line("first");

    cdr_log_rotate();
    served();
    EXPECT_EQ(text("tarn.cdr.1"), "first\n");
    EXPECT_EQ(text("tarn.cdr"), "");
    struct stat st {};
    ASSERT_EQ(stat(path("tarn.cdr.1").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    if (geteuid() == 0) {
        EXPECT_EQ(st.st_uid, 1001u);
        EXPECT_EQ(st.st_gid, 1001u);
    }

    // A second rotation overwrites the one backup generation.
    write_line("second");
    cdr_log_rotate();
    served();
    EXPECT_EQ(text("tarn.cdr.1"), "second\n");
    EXPECT_FALSE(exists("tarn.cdr.2"));

    // Stopping moves the file aside and opens none until logging restarts.
    write_line("third");
    cdr_log_stop();
    served();
    EXPECT_EQ(gp->cdr_fp, nullptr);
    EXPECT_FALSE(exists("tarn.cdr"));
    EXPECT_EQ(text("tarn.cdr.1"), "third\n");
    cdr_log_rotate();
    served();
    EXPECT_FALSE(exists("tarn.cdr"));
    cdr_log_start();
    served();
    EXPECT_TRUE(exists("tarn.cdr"));
}

TEST_F(CdrLog, AFlushPostedRightAfterStartKeepsTheRotationThatOpensTheFile)
{
    cdr_log_start();
    cdr_log_flush_file();
    served();
    ASSERT_NE(gp->cdr_fp, nullptr);
    EXPECT_TRUE(exists("tarn.cdr"));
}

TEST_F(CdrLog, StartWithAFileOpenPostsNothingAndFlushWithoutOneDoesNothing)
{
    cdr_log_flush_file();
    served();
    EXPECT_FALSE(exists("tarn.cdr"));
    EXPECT_EQ(gp->cdr_fp, nullptr);

    cdr_log_start();
    served();
    cdr_log_start();
    EXPECT_EQ(gp->cdr_log_do_flush, 0);
    EXPECT_FALSE(cdr_log_thread_exists());

    // A flush reaches the disk without waiting for the stream's buffer.
    write_line("flushed");
    cdr_log_flush_file();
    served();
    EXPECT_EQ(text("tarn.cdr"), "flushed\n");
}

TEST_F(CdrLog, RecordsOfAnEarlierRunAreKeptAndAPlantedLinkIsNotFollowed)
{
    std::ofstream(path("tarn.cdr")) << "earlier\n";
    cdr_log_start();
    served();
    write_line("now");
    cdr_log_flush_file();
    served();
    EXPECT_EQ(text("tarn.cdr"), "earlier\nnow\n");

    cdr_log_stop();
    served();
    std::ofstream(path("victim")) << "keep\n";
    ASSERT_EQ(symlink(path("victim").c_str(), path("tarn.cdr").c_str()), 0);
    cdr_log_start();
    served();
    EXPECT_EQ(gp->cdr_fp, nullptr);
    EXPECT_EQ(text("victim"), "keep\n");
    struct stat st {};
    ASSERT_EQ(stat(path("victim").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 07777, 0666u);
}

TEST_F(CdrLog, ALineTornByACrashIsEndedBeforeTheFirstNewLine)
{
    const struct {
        const char *name, *before, *after; // the file as found, and after one line
    } cases[] = {
        {"no file", nullptr, "now\n"},
        {"empty", "", "now\n"},
        {"whole lines", "CDR,1\n", "CDR,1\nnow\n"},
        {"torn", "CDR,1\nCDR,2,SIP:10.0.0.2,ISDN:1:1,26/12/10-21", "CDR,1\nCDR,2,SIP:10.0.0.2,ISDN:1:1,26/12/10-21\nnow\n"},
        {"one byte", "C", "C\nnow\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        unlink(path("tarn.cdr").c_str());
        if (c.before)
            std::ofstream(path("tarn.cdr")) << c.before;
        cdr_log_start();
        served();
        write_line("now");
        cdr_log_stop(); // moves it to tarn.cdr.1
        served();
        EXPECT_EQ(text("tarn.cdr.1"), c.after);
    }
    // A rotation's new file and the cdr commands' reopening take the same
    // path: a file torn while logging was off is mended when it restarts.
    std::ofstream(path("tarn.cdr")) << "torn";
    cdr_log_start();
    served();
    cdr_log_rotate();
    served();
    EXPECT_EQ(text("tarn.cdr.1"), "torn\n");
}

} // namespace
