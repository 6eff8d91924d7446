// Helpers shared by the configuration tests: a private temporary directory,
// captured standard output, and running inside the fixture folder.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace cfgtest {

inline std::string fixtures_dir()
{
    return std::string(TARN_SOURCE_DIR) + "/tests/config/fixtures";
}

inline int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

// A fresh directory for one test, removed with everything in it.
struct temp_dir {
    std::string path;
    temp_dir()
    {
        const char *base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tarn-config-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            ADD_FAILURE() << "mkdtemp failed";
        path = buf.data();
    }
    ~temp_dir() { nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS); }
    std::string file(const std::string &name, const std::string &text) const
    {
        std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }
    std::vector<std::string> entries(const std::string &sub) const
    {
        std::vector<std::string> names;
        if (DIR *d = opendir((path + "/" + sub).c_str())) {
            while (dirent *e = readdir(d))
                if (e->d_name[0] != '.')
                    names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }
};

// Runs in another working directory for the life of the object.
struct in_dir {
    std::string old;
    explicit in_dir(const std::string &dir)
    {
        char buf[4096];
        old = getcwd(buf, sizeof buf) ? buf : "/";
        if (chdir(dir.c_str()) != 0)
            ADD_FAILURE() << "chdir " << dir;
    }
    ~in_dir()
    {
        if (chdir(old.c_str()) != 0)
            ADD_FAILURE() << "chdir back";
    }
};

// Standard output of f, as the parser and manager print their reports there.
template <typename F>
std::string captured(F f)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

} // namespace cfgtest
