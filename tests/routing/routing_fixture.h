// Shared by the routing tests: the application object with its locks, a
// private directory per test, and loading text through the file readers
// with both output streams captured.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

struct captured {
    int rc;
    std::string out;
    std::string err;
};

class RoutingTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes text to a file of that name in the test's directory; its path.
    std::string write_file(const std::string &name, const std::string &text) const;
    // cpt_parse_call_progress_tables on the text (written to a file first).
    captured load_cpt(const std::string &text) const;
    std::string dir;
};
