// A private TARN_ROOT with the smallest configuration the daemon starts on.
#pragma once
#include <string>
#include <vector>

struct conf_root {
    std::string dir; // the root; removed by the destructor
    conf_root();
    ~conf_root();
    conf_root(const conf_root &) = delete;
    conf_root &operator=(const conf_root &) = delete;
    // Writes a file below the root ("usr/conf/tarn.conf", ...).
    void write(const std::string &rel, const std::string &text) const;
    std::string path(const std::string &rel) const { return dir + "/" + rel; }
    std::vector<std::string> env() const { return {"TARN_ROOT=" + dir}; }
};
