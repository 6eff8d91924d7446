// A small reader for the JSON lines the simulator writes and answers with:
// objects, arrays, strings, integers, booleans and null.
#pragma once
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct json_value {
    enum kind_t { NUL, BOOL, NUMBER, STRING, ARRAY, OBJECT } kind = NUL;
    bool b = false;
    long long n = 0;
    double d = 0; // the number as read (n cuts the fraction)
    std::string s;
    std::vector<json_value> a;
    std::map<std::string, json_value> o;

    const json_value &operator[](const std::string &key) const
    {
        static const json_value none;
        auto it = o.find(key);
        return it == o.end() ? none : it->second;
    }
    bool has(const std::string &key) const { return o.count(key) != 0; }
    long long num() const { return n; }
    double real() const { return d; }
    const std::string &str() const { return s; }

    static json_value parse(const std::string &text)
    {
        size_t at = 0;
        json_value v;
        if (!read(text, at, v))
            return json_value();
        return v;
    }

private:
    static void skip(const std::string &t, size_t &at)
    {
        while (at < t.size() && (t[at] == ' ' || t[at] == '\n' || t[at] == '\r' || t[at] == '\t'))
            at++;
    }
    static bool read_string(const std::string &t, size_t &at, std::string &out)
    {
        if (t[at] != '"')
            return false;
        for (at++; at < t.size(); at++) {
            char c = t[at];
            if (c == '"') {
                at++;
                return true;
            }
            if (c == '\\' && at + 1 < t.size()) {
                char e = t[++at];
                switch (e) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'u':
                    if (at + 4 < t.size()) {
                        out += (char)strtol(t.substr(at + 1, 4).c_str(), nullptr, 16);
                        at += 4;
                    }
                    break;
                default: out += e;
                }
            } else {
                out += c;
            }
        }
        return false;
    }
    static bool read(const std::string &t, size_t &at, json_value &v)
    {
        skip(t, at);
        if (at >= t.size())
            return false;
        char c = t[at];
        if (c == '{') {
            v.kind = OBJECT;
            at++;
            skip(t, at);
            if (at < t.size() && t[at] == '}') {
                at++;
                return true;
            }
            for (;;) {
                skip(t, at);
                std::string key;
                if (!read_string(t, at, key))
                    return false;
                skip(t, at);
                if (at >= t.size() || t[at] != ':')
                    return false;
                at++;
                if (!read(t, at, v.o[key]))
                    return false;
                skip(t, at);
                if (at < t.size() && t[at] == ',') {
                    at++;
                    continue;
                }
                if (at < t.size() && t[at] == '}') {
                    at++;
                    return true;
                }
                return false;
            }
        }
        if (c == '[') {
            v.kind = ARRAY;
            at++;
            skip(t, at);
            if (at < t.size() && t[at] == ']') {
                at++;
                return true;
            }
            for (;;) {
                v.a.emplace_back();
                if (!read(t, at, v.a.back()))
                    return false;
                skip(t, at);
                if (at < t.size() && t[at] == ',') {
                    at++;
                    continue;
                }
                if (at < t.size() && t[at] == ']') {
                    at++;
                    return true;
                }
                return false;
            }
        }
        if (c == '"') {
            v.kind = STRING;
            return read_string(t, at, v.s);
        }
        if (t.compare(at, 4, "true") == 0 || t.compare(at, 5, "false") == 0) {
            v.kind = BOOL;
            v.b = t[at] == 't';
            at += v.b ? 4 : 5;
            return true;
        }
        if (t.compare(at, 4, "null") == 0) {
            at += 4;
            return true;
        }
        char *end = nullptr;
        double d = strtod(t.c_str() + at, &end);
        if (end == t.c_str() + at)
            return false;
        v.kind = NUMBER;
        v.n = (long long)d;
        v.d = d;
        at = (size_t)(end - t.c_str());
        return true;
    }
};
