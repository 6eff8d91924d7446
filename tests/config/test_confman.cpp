// The configuration manager on the fixture files: filing, defaults, keyed
// look-ups, walks, error lines, validation, and the registry.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "confman.h"
#include "test_support.h"

using namespace cfgtest;

namespace {

const cm_dir_t general_dirs[] = {
    {nullptr, nullptr, ""},
    {"statusport", "54322", "port listening for connections"},
    {"required", nullptr, "has no default"},
    {"list", "", "may be given several times"},
};
const cm_dir_t port_dirs[] = {
    {"name", nullptr, ""},
    {"ports", nullptr, "port numbers"},
    {"config", "cfgdefault", ""},
    {"timeout", nullptr, ""},
};
const cm_section_t port_schema[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 4, general_dirs},
    {"port", "default", "ports", KTYPE_INTEGER, 4, port_dirs},
};

const cm_dir_t peer_general_dirs[] = {{nullptr, nullptr, ""}};
const cm_dir_t peer_dirs[] = {
    {"name", nullptr, ""},
    {"host", nullptr, ""},
    {"port", "5060", ""},
};
const cm_section_t peer_schema[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 1, peer_general_dirs},
    {"name", "default", "name", KTYPE_STRING, 3, peer_dirs},
};

const cm_section_t plain_schema[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 4, general_dirs},
};

// A keyed section whose key field names no key.
const cm_section_t bad_key_schema[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 4, general_dirs},
    {"port", "default", "nonexistent", KTYPE_INTEGER, 4, port_dirs},
};

enum key_kind { NOKEY, INT, STR, CAT };

struct lookup {
    int sec, dir;
    key_kind kind;
    int ikey;
    const char *skey;
    size_t size;
    int rc;
    const char *value; // "~" when the buffer must stay untouched
};

struct mgr_case {
    const char *file;
    const cm_section_t *schema;
    int nsecs;
    int rc;
    const char *output;
    std::vector<lookup> lookups;
};

const mgr_case manager_cases[] = {
    {"ports.conf", port_schema, 2, 0,
     "T [ports.conf]: invalid expression in section \"general\": \"unknown = 1\". Please edit "
     "your ports.conf and then reload.\n"
     "T [ports.conf]: failed to hash integer key: 3\n"
     "T [ports.conf]: invalid expression in section \"isdn2\": \"ports = x1\". Please edit your "
     "ports.conf and then reload.\n",
     {
         {0, 1, NOKEY, 0, nullptr, 64, 0, "54322"},
         {0, 2, NOKEY, 0, nullptr, 64, 0, "yes"},
         {0, 3, NOKEY, 0, nullptr, 64, 0, "a,b"},
         {0, 0, NOKEY, 0, nullptr, 64, 0, "general"},
         {0, 3, INT, 7, nullptr, 64, 0, "a,b"}, // a key-less section ignores the key
         {1, 2, INT, 1, nullptr, 64, 0, "fromtemplate"},
         {1, 2, INT, 3, nullptr, 64, 0, "fromtemplate"}, // the first claim keeps port 3
         {1, 2, INT, 10, nullptr, 64, 0, "own"},
         {1, 3, INT, 8, nullptr, 64, 0, "20"}, // the second [ISDN1] adds to its row
         {1, 3, INT, 10, nullptr, 64, 0, "30"},
         {1, 0, INT, 4, nullptr, 64, 0, "isdn1"},
         {1, 1, INT, 4, nullptr, 64, 0, "1-4,8"},
         {1, 3, NOKEY, 0, nullptr, 64, 0, "15"}, // row 0: the [default] category
         {1, 0, NOKEY, 0, nullptr, 64, 0, "default"},
         {1, 2, INT, 9, nullptr, 64, -1, "~"},    // 9-7 gives no key
         {1, 2, INT, 5, nullptr, 64, -1, "~"},
         {1, 2, STR, 0, "isdn1", 64, -1, "~"},   // text key on a port section
         {1, 4, INT, 1, nullptr, 64, -1, "~"},
         {1, -1, INT, 1, nullptr, 64, -1, "~"},
         {2, 1, NOKEY, 0, nullptr, 64, -1, "~"},
         {-1, 1, NOKEY, 0, nullptr, 64, -1, "~"},
         {1, 2, INT, 1, nullptr, 13, 0, "fromtemplate"}, // just fits
         {1, 2, INT, 1, nullptr, 12, -1, ""},            // just does not
         {1, 2, INT, 1, nullptr, 0, -1, "~"},
         {1, 2, CAT, 0, "ISDN2", 64, 0, "own"},
         {1, 3, CAT, 0, "isdn2", 64, 0, "30"},
         {1, 2, CAT, 0, "tmpl", 64, 1, "~"}, // a template is no row
         {1, 2, CAT, 0, "nope", 64, 1, "~"},
         {0, 2, CAT, 0, "general", 64, -1, "~"},
     }},
    {"peers.conf", peer_schema, 2, 0, "",
     {
         {1, 1, STR, 0, "BETA", 64, 0, "b.example"},
         {1, 2, STR, 0, "beta", 64, 0, "5080"},
         {1, 2, STR, 0, "alpha", 64, 0, "5070"}, // from [DEFAULT]
         {1, 1, STR, 0, "gamma", 64, 0, "c.example"},
         {1, 0, STR, 0, "Alpha", 64, 0, "alpha"},
         {1, 1, STR, 0, "default", 64, -1, "~"},
         {1, 1, INT, 1, nullptr, 64, -1, "~"}, // integer key on a name section
         {1, 0, NOKEY, 0, nullptr, 64, 0, "DEFAULT"},
     }},
    {"peers_missing.conf", peer_schema, 2, -1,
     "T [peers_missing.conf]: missing value in section \"gamma\": host. Please edit your "
     "peers_missing.conf and then reload.\n"
     "T [peers_missing.conf]: missing value in section \"delta\": host. Please edit your "
     "peers_missing.conf and then reload.\n",
     {}},
    {"general_missing.conf", plain_schema, 1, -1,
     "T [general_missing.conf]: missing value in section \"general\": required. Please edit your "
     "general_missing.conf and then reload.\n",
     {}},
    {"plain.conf", plain_schema, 1, 0,
     "T [plain.conf]: invalid section \"stray\". Please edit your plain.conf and then reload.\n",
     {
         {0, 2, NOKEY, 0, nullptr, 64, 0, "1"},
         {0, 3, NOKEY, 0, nullptr, 64, 0, ""}, // an empty default is a value
     }},
    {"ports_nokey.conf", port_schema, 2, 0,
     "T [ports_nokey.conf]: missing value for key field \"ports\" in section \"lonely\"!\n",
     {
         {1, 2, INT, 99, nullptr, 64, -1, "~"}, // the default row has no key
         {1, 2, CAT, 0, "lonely", 64, 0, "x"},
     }},
    // Without port groups the defaults of the port section are not checked.
    {"ports_nogroups.conf", port_schema, 2, 0, "",
     {
         {1, 3, NOKEY, 0, nullptr, 64, -1, ""},
         {1, 2, NOKEY, 0, nullptr, 64, 0, "cfgdefault"},
     }},
    {"ports.conf", bad_key_schema, 2, 0,
     "T [ports.conf]: invalid expression in section \"general\": \"unknown = 1\". Please edit "
     "your ports.conf and then reload.\n"
     "T: missing key field \"nonexistent\" in section structure!\n",
     {
         {1, 2, INT, 1, nullptr, 64, -1, "~"},
         {1, 2, CAT, 0, "isdn1", 64, 0, "fromtemplate"},
     }},
};

class Confman : public ::testing::Test {
  protected:
    temp_dir tmp;
    void SetUp() override
    {
        ASSERT_EQ(cm_init(), 0);
        setenv("TARN_ROOT", tmp.path.c_str(), 1);
        ASSERT_EQ(mkdir((tmp.path + "/var").c_str(), 0700), 0);
        ASSERT_EQ(mkdir((tmp.path + "/var/tmp").c_str(), 0700), 0);
    }
    void TearDown() override { unsetenv("TARN_ROOT"); }
};

int do_lookup(cm *c, const lookup &l, char *buf)
{
    switch (l.kind) {
    case NOKEY:
        return cm_get(c, buf, l.size, l.sec, l.dir);
    case INT:
        return cm_get(c, buf, l.size, l.sec, l.dir, l.ikey);
    case STR:
        return cm_get(c, buf, l.size, l.sec, l.dir, l.skey);
    case CAT:
        return cm_get_by_cat(c, buf, l.size, l.sec, l.dir, l.skey);
    }
    return -2;
}

TEST_F(Confman, FixtureFilesLoadWithExactValuesAndMessages)
{
    in_dir here(fixtures_dir());
    for (const mgr_case &mc : manager_cases) {
        SCOPED_TRACE(mc.file);
        cm *c = cm_create("T", mc.schema, mc.nsecs);
        ASSERT_NE(c, nullptr);
        int rc = 99;
        std::string out = captured([&] { rc = cm_load(&c, mc.file); });
        EXPECT_EQ(rc, mc.rc);
        EXPECT_EQ(out, mc.output);
        if (mc.rc != 0) {
            // The failed load destroyed the manager and cleared the pointer;
            // the name is free for the next one.
            EXPECT_EQ(c, nullptr);
            cm *again = cm_create("T", mc.schema, mc.nsecs);
            EXPECT_NE(again, nullptr);
            cm_destroy(again);
            continue;
        }
        for (const lookup &l : mc.lookups) {
            SCOPED_TRACE(::testing::Message() << "sec " << l.sec << " dir " << l.dir << " key "
                                              << (l.skey ? l.skey : std::to_string(l.ikey)));
            char buf[64];
            strcpy(buf, "~");
            EXPECT_EQ(do_lookup(c, l, buf), l.rc);
            EXPECT_STREQ(buf, l.value);
        }
        cm_destroy(c);
    }
}

TEST_F(Confman, WalksOverKeysAndRows)
{
    in_dir here(fixtures_dir());
    cm *ports = cm_create("PORTS", port_schema, 2);
    cm *peers = cm_create("PEERS", peer_schema, 2);
    ASSERT_TRUE(ports && peers);
    captured([&] {
        ASSERT_EQ(cm_load(&ports, "ports.conf"), 0);
        ASSERT_EQ(cm_load(&peers, "peers.conf"), 0);
    });

    std::string ids;
    int next = 0;
    for (int prev = -1; cm_get_next_id(ports, 1, prev, &next) == 1; prev = next)
        ids += std::to_string(next) + " ";
    EXPECT_EQ(ids, "1 2 3 4 8 10 ");
    EXPECT_EQ(cm_get_next_id(ports, 1, 5, &next), 0); // 5 is no key
    EXPECT_EQ(cm_get_next_id_spin(ports, 1, 10, &next), 1);
    EXPECT_EQ(next, 1);
    EXPECT_EQ(cm_get_next_id(ports, 0, -1, &next), -1); // a key-less section
    EXPECT_EQ(cm_id_valid(ports, 1, 8), 1);
    EXPECT_EQ(cm_id_valid(ports, 1, 9), 0);
    EXPECT_EQ(cm_id_valid(ports, 0, 1), 0);

    char name[16];
    std::string cats, prevcat;
    for (const char *prev = nullptr; cm_get_next_cat(ports, 1, prev, name, sizeof name) == 1;
         prev = prevcat.c_str()) {
        cats += std::string(name) + " ";
        prevcat = name;
    }
    EXPECT_EQ(cats, "isdn1 isdn2 ");
    EXPECT_EQ(cm_get_next_cat(ports, 1, "isdn2", name, sizeof name), 0);
    EXPECT_EQ(cm_get_next_cat(ports, 1, "nope", name, sizeof name), 0);
    EXPECT_EQ(cm_get_next_cat_spin(ports, 1, "ISDN2", name, sizeof name), 1);
    EXPECT_STREQ(name, "1");
    EXPECT_EQ(cm_get_next_cat(ports, 0, nullptr, name, sizeof name), 0);

    std::string keys;
    char key[16];
    std::string prevkey;
    for (const char *prev = nullptr; cm_get_next_id(peers, 1, prev, key, sizeof key) == 1;
         prev = prevkey.c_str()) {
        keys += std::string(key) + " ";
        prevkey = key;
    }
    EXPECT_EQ(keys, "alpha Beta gamma ");
    EXPECT_EQ(cm_get_next_id_spin(peers, 1, "GAMMA", key, sizeof key), 1);
    EXPECT_STREQ(key, "alpha");
    EXPECT_EQ(cm_get_next_cat_spin(peers, 1, "gamma", key, sizeof key), 1);
    EXPECT_STREQ(key, "alpha");
    EXPECT_EQ(cm_get_next_id(peers, 1, nullptr, key, 5), -1); // "alpha" needs 6 bytes
    EXPECT_EQ(cm_id_valid(peers, 1, "BETA"), 1);

    cm_destroy(ports);
    cm_destroy(peers);
}

TEST_F(Confman, StatesAndWrongCalls)
{
    in_dir here(fixtures_dir());
    cm *c = cm_create("T", port_schema, 2);
    ASSERT_NE(c, nullptr);
    cm *null_cm = nullptr;
    char buf[16] = "~";
    struct {
        const char *name;
        std::function<int()> call;
        int rc;
        const char *output;
    } const cases[] = {
        {"null pointer", [] { return cm_load(nullptr, "ports.conf"); }, -1,
         "confman: cm_load called with NULL parameter!\n"},
        {"null manager", [&] { return cm_load(&null_cm, "ports.conf"); }, -1,
         "confman: cm_load called with NULL parameter!\n"},
        {"lookup before load", [&] { return cm_get(c, buf, sizeof buf, 0, 1); }, -1, ""},
        {"file that does not parse", [&] { return cm_load(&c, "broken.conf"); }, -1,
         "parse error: no closing ']', line 1 of broken.conf\n"
         "T: failed to load file: broken.conf\n"},
        {"missing file", [&] { return cm_load(&c, "no-such.conf"); }, -1,
         "T: failed to load file: no-such.conf\n"},
        {"load after a failed parse", [&] { return cm_load(&c, "ports.conf") == 0 ? 0 : -1; }, 0,
         nullptr},
        {"second load", [&] { return cm_load(&c, "ports.conf"); }, -1,
         "confman: cm_load called with already loaded cm!\n"},
        {"duplicate name", [&] { return cm_create("t", plain_schema, 1) ? 0 : -1; }, -1, ""},
        {"empty schema", [&] { return cm_create("U", plain_schema, 0) ? 0 : -1; }, -1, ""},
        {"destroy null", [] { cm_destroy(nullptr); return 0; }, 0,
         "confman: cm_destroy called with NULL parameter!\n"},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        int rc = 99;
        std::string out = captured([&] { rc = tc.call(); });
        EXPECT_EQ(rc, tc.rc);
        if (tc.output) {
            EXPECT_EQ(out, tc.output);
        }
        EXPECT_NE(c, nullptr);
    }
    EXPECT_STREQ(buf, "~");
    EXPECT_EQ(c->state, CM_LOADED);
    EXPECT_EQ(cm_get(c, buf, sizeof buf, 0, 2), 0);
    EXPECT_STREQ(buf, "yes");
    cm_destroy(c);
}

TEST_F(Confman, KeyTableHolds512KeysAndHugeRangesEndQuickly)
{
    std::string path = tmp.file("big.conf", "[general]\nrequired = 1\n[default]\ntimeout = 1\n"
                                            "[big]\nports = 1-1000\n"
                                            "[huge]\nports = 0-2147483647\n"
                                            "[single]\nports = -5\n");
    cm *c = cm_create("T", port_schema, 2);
    ASSERT_NE(c, nullptr);
    int rc = 99;
    std::string out = captured([&] { rc = cm_load(&c, path.c_str()); });
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(out, "T [big.conf]: failed to hash integer key: 513\n"
                   "T [big.conf]: failed to hash integer keys 514-1000: table full\n"
                   "T [big.conf]: failed to hash integer key: 0\n"
                   "T [big.conf]: failed to hash integer keys 1-2147483647: table full\n"
                   "T [big.conf]: failed to hash integer key: -5\n");
    int n = 0, next = 0;
    for (int prev = -1; cm_get_next_id(c, 1, prev, &next) == 1; prev = next)
        n++;
    EXPECT_EQ(n, 512);
    EXPECT_EQ(next, 512);
    EXPECT_EQ(cm_id_valid(c, 1, 513), 0);
    char buf[16];
    EXPECT_EQ(cm_get(c, buf, sizeof buf, 1, 0, 512), 0);
    EXPECT_STREQ(buf, "big");
    EXPECT_EQ(cm_get(c, buf, sizeof buf, 1, 0, 0), -1);
    cm_destroy(c);
}

TEST_F(Confman, RegistryRemovalKeepsEveryOtherName)
{
    // Fill the registry to its 512 names (many share a hash chain), remove
    // every third one, and check each survivor is still known by its name.
    int already = cm_obj_hash->table._length;
    std::vector<cm *> objs;
    for (int i = 0; objs.size() + already < CM_HASH_SIZE; i++) {
        cm *c = cm_create(("MOD" + std::to_string(i)).c_str(), plain_schema, 1);
        ASSERT_NE(c, nullptr) << i;
        objs.push_back(c);
    }
    EXPECT_EQ(cm_create("ONE-TOO-MANY", plain_schema, 1), nullptr); // table full
    for (size_t i = 0; i < objs.size(); i += 3) {
        cm_destroy(objs[i]);
        objs[i] = nullptr;
    }
    for (size_t i = 0; i < objs.size(); i++) {
        std::string name = "mod" + std::to_string(i);
        cm *again = cm_create(name.c_str(), plain_schema, 1);
        if (objs[i]) {
            EXPECT_EQ(again, nullptr) << name << " lost from the registry";
        } else {
            EXPECT_NE(again, nullptr) << name << " still registered";
            objs[i] = again;
        }
    }
    for (cm *c : objs)
        cm_destroy(c);
    EXPECT_EQ(cm_obj_hash->table._length, already);
}

TEST_F(Confman, ExecOutputFillsRowsAndLeavesNoFile)
{
    in_dir here(fixtures_dir());
    cm *c = cm_create("T", peer_schema, 2);
    ASSERT_NE(c, nullptr);
    std::string out = captured([&] { ASSERT_EQ(cm_load(&c, "exec_peers.conf"), 0); });
    EXPECT_EQ(out, "");
    char buf[32];
    EXPECT_EQ(cm_get(c, buf, sizeof buf, 1, 1, "FROMEXEC"), 0);
    EXPECT_STREQ(buf, "x.example");
    EXPECT_EQ(cm_get(c, buf, sizeof buf, 1, 2, "fromexec"), 0);
    EXPECT_STREQ(buf, "5060");
    EXPECT_TRUE(tmp.entries("var/tmp").empty());
    cm_destroy(c);
}

} // namespace
