// The configuration text parser on the fixture files and on generated text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "ast_config.h"
#include "test_support.h"

using namespace cfgtest;

namespace {

// Every category (templates marked "!") with its lines as name=value@line,
// "=>" for object lines.
std::string dump(const ast_config *cfg)
{
    std::string s;
    for (const ast_category *c = cfg->root; c; c = c->next) {
        s += "[" + std::string(c->name) + "]" + (c->ignored ? "!" : "") + "\n";
        for (const ast_variable *v = c->root; v; v = v->next)
            s += std::string(v->name) + (v->object ? "=>" : "=") + v->value + "@" +
                 std::to_string(v->lineno) + "\n";
    }
    return s;
}

struct loaded {
    ast_config *cfg = nullptr;
    std::string out;
    ~loaded() { ast_config_destroy(cfg); }
};

void load(loaded &l, const std::string &path)
{
    l.out = captured([&] { l.cfg = ast_config_load(path.c_str()); });
}

struct file_case {
    const char *file;
    const char *dump;
    const char *output;
};

const file_case fixture_cases[] = {
    {"comments.conf",
     "[c]\n"
     "a=1@3\n"
     "b=x;y@4\n"
     "c=1  2@5\n"
     "d=5@6\n"
     "e=6@8\n"
     "f=7@9\n"
     "g=8  9@11\n"
     "h=10@12\n"
     "i=11@13\n"
     "j=tabs and spaces@14\n"
     "k=@15\n",
     "Stray end of block comment at line 12 of comments.conf\n"},
    {"templates.conf",
     "[b]!\n"
     "k=1@2\n"
     "exten=>100@3\n"
     "[c]\n"
     "k=1@2\n"
     "exten=>100@3\n"
     "k=2@5\n"
     "[x]\n"
     "k=1@7\n"
     "k=2@11\n"
     "[y]\n"
     "z=0@9\n"
     "[d]!\n"
     "k=1@2\n"
     "exten=>100@3\n"
     "own=3@13\n"
     "[e]\n"
     "k=1@2\n"
     "exten=>100@3\n"
     "own=3@13\n"
     "[AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA]\n"
     "v=1@16\n",
     ""},
    {"badlines.conf",
     "[c]\n"
     "a=1@8\n",
     "No '=' (equal sign) in line 2 of badlines.conf\n"
     "Unknown directive 'frobnicate' at line 3 of badlines.conf\n"
     "Directive '#include' needs an argument (filename) at line 4 of badlines.conf\n"
     "Directive '#exec' needs an argument (/path/to/executable) at line 5 of badlines.conf\n"
     "'incdir' is not a regular file, ignoring\n"
     "Unterminated comment detected beginning on line 9\n"},
    {"include_main.conf",
     "[top]\n"
     "before=1@2\n"
     "subtop=s@2\n"
     "after=2@4\n"
     "head=h@1\n"
     "[sub]\n"
     "inner=i@4\n"
     "[second]\n"
     "subtop=s@2\n"
     "[sub]\n"
     "inner=i@4\n",
     ""},
};

TEST(ConfigParser, FixtureFiles)
{
    in_dir here(fixtures_dir());
    for (const file_case &fc : fixture_cases) {
        SCOPED_TRACE(fc.file);
        loaded l;
        load(l, fc.file);
        ASSERT_NE(l.cfg, nullptr);
        EXPECT_EQ(dump(l.cfg), fc.dump);
        EXPECT_EQ(l.out, fc.output);
        EXPECT_EQ(l.cfg->include_level, 0);
    }
}

TEST(ConfigParser, BrowsingSkipsTemplatesAndFindsByIdentityOrName)
{
    in_dir here(fixtures_dir());
    loaded l;
    load(l, "templates.conf");
    ASSERT_NE(l.cfg, nullptr);
    std::string names;
    for (char *c = ast_category_browse(l.cfg, nullptr); c; c = ast_category_browse(l.cfg, c))
        names += std::string(c) + " ";
    EXPECT_EQ(names, std::string("c x y e ") + std::string(79, 'A') + " ");

    // A previous category given by another pointer is found by name.
    EXPECT_STREQ(ast_category_browse(l.cfg, "X"), "y");
    // A category pointer that is not the last one returned is found by identity.
    const char *x = l.cfg->root->next->next->name;
    EXPECT_STREQ(ast_category_browse(l.cfg, "c"), "x");
    EXPECT_STREQ(ast_category_browse(l.cfg, x), "y");
    EXPECT_EQ(ast_category_browse(l.cfg, "no such"), nullptr);

    ast_variable *v = ast_variable_browse(l.cfg, "C");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->name, "k");
    // A template is found by identity only, never by name.
    EXPECT_EQ(ast_variable_browse(l.cfg, "b"), nullptr);
    EXPECT_NE(ast_variable_browse(l.cfg, l.cfg->root->name), nullptr);
}

struct text_case {
    const char *name;
    std::string text;
    const char *dump;   // null: the load fails
    std::string output; // "%F" stands for the file's path
};

std::string replace_all(std::string s, const std::string &from, const std::string &to)
{
    for (size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size())
        s.replace(p, from.size(), to);
    return s;
}

TEST(ConfigParser, GeneratedTexts)
{
    std::string doubling = "[a]\nk = 1\n";
    for (int i = 0; i < 40; i++)
        doubling += "[a](+,a)\n"; // each line doubles a: 2^40 variables uncapped
    std::string opens, closes;
    for (int i = 0; i < 129; i++)
        opens += ";-- ";
    for (int i = 0; i < 128; i++)
        closes += "--; ";
    const text_case cases[] = {
        {"header without ]", "[c\nk = 1\n", nullptr, "parse error: no closing ']', line 1 of %F\n"},
        {"options without )", "[a]\n[c](!\nk = 1\n", nullptr,
         "parse error: no closing ')', line 2 of %F\n"},
        {"unknown base", "[a]\n[c](a,nope)\n", nullptr,
         "Inheritance requested, but category 'nope' does not exist, line 2 of %F\n"},
        {"inheritance doubling past the cap", doubling, nullptr,
         "Inheritance of 'a' would copy more than 100000 variables in all, line 19 of %F\n"},
        {"line before any header", "k = 1\n[c]\n", nullptr,
         "parse error: No category context for line 1 of %F\n"},
        {"CRLF line ends", "[c]\r\nk = v\r\n", "[c]\nk=v@2\n", ""},
        {"nesting beyond 128", "[c]\n" + opens + "\n" + closes + "\nk = 1\n", "[c]\nk=1@4\n",
         "Maximum nest limit of 128 reached.\n"},
        {"block comment over lines", "[c]\na = 1 ;-- from here\nb = 2\nc = 3\nd = 4 --; e = 5\n",
         "[c]\na=1@2\ne=5@5\n", ""},
        {"merge without an earlier category", "[n](+)\nk = 1\n", "[n]\nk=1@2\n", ""},
        {"escape at the start of a value", "[c]\nk = \\;x ; note\n", "[c]\nk=;x@2\n", ""},
        {"empty header", "[]\nk = 1\n", "[]\nk=1@2\n", ""},
    };
    temp_dir tmp;
    for (const text_case &tc : cases) {
        SCOPED_TRACE(tc.name);
        std::string path = tmp.file("t.conf", tc.text);
        loaded l;
        load(l, path);
        if (!tc.dump) {
            EXPECT_EQ(l.cfg, nullptr);
        } else {
            ASSERT_NE(l.cfg, nullptr);
            EXPECT_EQ(dump(l.cfg), tc.dump);
        }
        EXPECT_EQ(l.out, replace_all(tc.output, "%F", path));
    }
}

TEST(ConfigParser, LineLongerThanOneRead)
{
    // 8191 bytes per read: the rest of the long line is a line of its own,
    // and the counting goes on from there.
    temp_dir tmp;
    std::string path = tmp.file("t.conf", "[c]\nk = " + std::string(9000, 'x') + "\nz = 1\n");
    loaded l;
    load(l, path);
    ASSERT_NE(l.cfg, nullptr);
    EXPECT_EQ(dump(l.cfg), "[c]\nk=" + std::string(8191 - 4, 'x') + "@2\nz=1@4\n");
    EXPECT_EQ(l.out, "No '=' (equal sign) in line 3 of " + path + "\n");
}

TEST(ConfigParser, MissingFilesAndDirectories)
{
    temp_dir tmp;
    loaded missing, dir;
    load(missing, tmp.path + "/none.conf");
    EXPECT_EQ(missing.cfg, nullptr);
    EXPECT_EQ(missing.out, "");
    load(dir, tmp.path);
    EXPECT_EQ(dir.cfg, nullptr);
    EXPECT_EQ(dir.out, "'" + tmp.path + "' is not a regular file, ignoring\n");

    // A path too long to be named is not cut down to another file's name.
    std::string longdir = tmp.path + "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(longdir.c_str(), 0700), 0);
    std::string longpath = longdir + "/" + std::string(80, 'f');
    std::string cut = longpath.substr(0, 255);
    tmp.file(cut.substr(tmp.path.size() + 1), "[wrong]\n");
    loaded toolong;
    load(toolong, longpath);
    EXPECT_EQ(toolong.cfg, nullptr);
}

TEST(ConfigParser, IncludeDepthStopsAtTen)
{
    temp_dir tmp;
    for (int i = 0; i < 12; i++)
        tmp.file("f" + std::to_string(i), "[c" + std::to_string(i) + "]\nk = " + std::to_string(i) +
                                             "\n#include f" + std::to_string(i + 1) + "\n");
    in_dir here(tmp.path);
    loaded l;
    load(l, "f0");
    ASSERT_NE(l.cfg, nullptr);
    EXPECT_EQ(l.out, "Maximum Include level (10) exceeded\n");
    std::string names;
    for (char *c = ast_category_browse(l.cfg, nullptr); c; c = ast_category_browse(l.cfg, c))
        names += std::string(c) + " ";
    EXPECT_EQ(names, "c0 c1 c2 c3 c4 c5 c6 c7 c8 c9 ");
    EXPECT_EQ(l.cfg->include_level, 0);
}

TEST(ConfigParser, FailingIncludeDoesNotStopTheIncludingFile)
{
    temp_dir tmp;
    tmp.file("bad.conf", "[inner]\nx = 1\n[broken\n");
    tmp.file("main.conf", "[a]\n#include bad.conf\nk = 1\n");
    in_dir here(tmp.path);
    loaded l;
    load(l, "main.conf");
    ASSERT_NE(l.cfg, nullptr);
    EXPECT_EQ(dump(l.cfg), "[a]\nk=1@3\n[inner]\nx=1@2\n");
    EXPECT_EQ(l.out, "parse error: no closing ']', line 3 of bad.conf\n");
}

} // namespace
