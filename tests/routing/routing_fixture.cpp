#include "routing_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "application.h"
#include "call_progress.h"

void RoutingTest::SetUp()
{
    application_create();
    init_locks();
    cpt_init_default_tables();
    char tmpl[] = "/tmp/tarn-routing.XXXXXX";
    char *d = mkdtemp(tmpl);
    ASSERT_NE(d, nullptr);
    dir = d;
}

void RoutingTest::TearDown()
{
    cpt_parse_call_progress_tables(nullptr); // no file tables left behind
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

std::string RoutingTest::write_file(const std::string &name, const std::string &text) const
{
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::trunc | std::ios::binary) << text;
    return path;
}

captured RoutingTest::load_cpt(const std::string &text) const
{
    std::string path = write_file("tarn.cpt", text);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int rc = cpt_parse_call_progress_tables(path.c_str());
    fflush(stdout);
    captured c{rc, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    return c;
}
