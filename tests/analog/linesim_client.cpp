#include "linesim_client.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

sim_record parse_record(const std::string &s)
{
    sim_record r;
    size_t sp = s.find(' ');
    if (sp == std::string::npos)
        return r;
    r.t = atof(s.substr(0, sp).c_str());
    r.text = s.substr(sp + 1);
    return r;
}

int remove_entry(const char *p, const struct stat *, int, struct FTW *)
{
    return remove(p);
}

} // namespace

linesim::linesim(const std::string &script, const std::string &root,
                 const std::vector<std::string> &args, const std::string &name)
{
    std::string control = root + "/" + name + ".ctl";
    std::vector<std::string> argv = {"python3", std::string(TARN_SOURCE_DIR) + "/" + script,
                                     "--root", root, "--control", control,
                                     "--transcript", root + "/" + name + ".transcript"};
    argv.insert(argv.end(), args.begin(), args.end());
    sim_.start(argv, control, false, 60000);
}

linesim::~linesim()
{
    sim_.stop(2000);
}

bool linesim::request(const std::vector<std::string> &words, std::string *payload)
{
    return sim_.request(words, payload, 30);
}

bool linesim::inject(const std::string &line, const std::string &text)
{
    return request({"inject", line, text});
}

std::vector<sim_record> linesim::records(const std::string &line)
{
    std::string out;
    std::vector<sim_record> v;
    if (!request({"records", line}, &out))
        return v;
    size_t start = 0;
    while (start < out.size()) {
        size_t nl = out.find('\n', start);
        if (nl == std::string::npos)
            nl = out.size();
        v.push_back(parse_record(out.substr(start, nl - start)));
        start = nl + 1;
    }
    return v;
}

sim_record linesim::expect(const std::string &line, const std::string &regex, int ms)
{
    std::string out;
    if (!request({"expect", line, regex, std::to_string(ms)}, &out))
        return sim_record{};
    return parse_record(out);
}

bool linesim::forget(const std::string &line)
{
    return request({"forget", line});
}

bool linesim::set(const std::string &line, const std::string &key, const std::string &value)
{
    return request({"set", line, key, value});
}

bool linesim::close_line(const std::string &line)
{
    return request({"close", line});
}

std::string linesim::transcript()
{
    std::string out;
    request({"transcript"}, &out);
    return out;
}

std::string make_test_root(const char *prefix)
{
    std::string tmpl = std::string("/tmp/") + prefix + ".XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const char *d = mkdtemp(buf.data());
    std::string root = d ? d : "";
    if (!root.empty())
        setenv("TARN_ROOT", root.c_str(), 1);
    return root;
}

void remove_tree(const std::string &path)
{
    if (!path.empty() && path != "/")
        nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void write_text_file(const std::string &path, const std::string &text)
{
    std::string dir = path.substr(0, path.rfind('/'));
    for (size_t i = 1; i <= dir.size(); i++)
        if (i == dir.size() || dir[i] == '/')
            mkdir(dir.substr(0, i).c_str(), 0755);
    std::ofstream(path) << text;
}
