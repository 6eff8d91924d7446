#include "cli.h"

#include <getopt.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

#include "log.h"

const char *const appfs_version = "24.01.03";
int tarn_daemon_mode = 0;
int tarn_print_configuration = 0;

static const char *const short_options = "t:c:m:n:s:i:p:l:w:e:d:P:f:z:r:S:M:L:q:Q:R:V:G:hvgCDoNAE";
enum { OPT_NLOGSIZE = 256 };

static const struct option long_options[] = {
    {"config", required_argument, nullptr, 'c'},
    {"tdm", required_argument, nullptr, 't'},
    {"sip", required_argument, nullptr, 's'},
    {"isdn", required_argument, nullptr, 'i'},
    {"gsm", required_argument, nullptr, 'm'},
    {"dialplan", required_argument, nullptr, 'p'},
    {"loglevel", required_argument, nullptr, 'l'},
    {"loglevel2", required_argument, nullptr, 'w'},
    {"etc", required_argument, nullptr, 'e'},
    {"tones", required_argument, nullptr, 'n'},
    {"daemonize", required_argument, nullptr, 'd'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'v'},
    {"logrotate", required_argument, nullptr, 'f'},
    {"logsize", required_argument, nullptr, 'z'},
    {"nlogsize", required_argument, nullptr, OPT_NLOGSIZE},
    {"regexptest", required_argument, nullptr, 'r'},
    {"generate-core", no_argument, nullptr, 'g'},
    {"causemap", required_argument, nullptr, 'M'},
    {"ptp", required_argument, nullptr, 'P'},
    {"print-configuration", no_argument, nullptr, 'C'},
    {"default-settings", no_argument, nullptr, 'D'},
    {"logstdout", no_argument, nullptr, 'o'},
    {"logdisable", optional_argument, nullptr, 'L'},
    {"dc", no_argument, nullptr, 'N'},
    {"mspalive", no_argument, nullptr, 'A'},
    {"resolve", required_argument, nullptr, 'R'},
    {"enum-support", no_argument, nullptr, 'E'},
    {"gsmflash", no_argument, nullptr, 'G'},
    {"srvresolve", required_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

struct usage_line {
    const char *left;
    const char *desc;
};

static const usage_line usage_lines[] = {
    {"-h,--help", "print this help:"},
    {"-d,--daemon 0/1", "run tarn as a daemon (default 0, don't run as a daemon)"},
    {"-l,--loglevel LEVEL", nullptr},
    {"-w,--loglevel2 LEVEL", nullptr},
    {"-c,--config PATH", "PATH of the tarn config file"},
    {"-i,--isdn PATH", "PATH of the isdn config file"},
    {"-s,--sip PATH", "PATH of the sip config file"},
    {"-m,--gsm PATH", "PATH of the gsm config file"},
    {"-n,--tones PATH", "PATH of the tone config file"},
    {"-p,--dialplan PATH", "PATH of the dialplan file"},
    {"-P,--ptp PORTLIST", "list of ISDN ports to be configured as ptp"},
    {"-t,--tdm PATH", "PATH of the TDM configuration"},
    {"-e,--etc PATH", "PATH to look for config files instead of /usr/conf"},
    {"-r,--regexptest string", "test how passed string is processed by tarn to determine port and number"},
    {"-f,--logrotate", "list of logfiles"},
    {"-z,--logsize", "file size limit after which a new logfile is started"},
    {"-g,--generate-core", "create core dump"},
    {"-C,--print-configuration", "print default call configuration"},
    {"-D,--default-settings", "print default settings"},
    {"-S,--module-settings MOD", "print default setting of given module part MOD (TARNG,SIPG,SIPP,ISDNG,ISDNP,ANALOGG,ANALOGP,...)"},
    {"-N,--dc", "print default call configuration"},
    {"-o,--logstdout", "start logging to stdout at tarn start"},
    {"-q,--multicast_add", "add a multicast mac address"},
    {"-Q,--multicast_remove", "remove a multicast mac address"},
    {"-E,--enum-support", "returns 0 if enum support is enabled"},
    {"-R,--resolve", "resolves an URL"},
    {"-V,--srvresolve", "makes a _SIP._TCP. and _SIP._UDP. SRV query"},
    {"-v,--version", "print the version and exit"},
};

void print_usage()
{
    fputs("Options:\n", stderr);
    for (const usage_line &u : usage_lines) {
        if (u.desc) {
            fprintf(stderr, "%-25s:%s\n", u.left, u.desc);
        } else {
            fprintf(stderr, "%-25s:%s\n", u.left, "LEVEL is a number between 0 and 9");
            fprintf(stderr, "%26s%s\n", "", "additional digits will be applied to specific modules in following order:");
            fprintf(stderr, "%26s%s\n", "", "TARN,ISDN,MSP,SIP,GSM,TIMER,STATEMACHINE");
        }
    }
}

void set_core_dump()
{
    struct rlimit rl;
    rl.rlim_cur = RLIM_INFINITY;
    rl.rlim_max = RLIM_INFINITY;
    setrlimit(RLIMIT_CORE, &rl);
}

void cli_version_text(char *out, size_t size)
{
    size_t n = 0;
    for (const char *p = appfs_version; *p && n + 1 < size; p++) {
        if (*p == '"')
            continue;
        out[n++] = (*p == ' ') ? '-' : *p;
    }
    if (size)
        out[n] = '\0';
}

[[noreturn]] static void cli_fail()
{
    TARN_EXIT(2, "Couldn't parse CLI arguments!");
}

static void set_text(char *field, size_t width, const char *value)
{
    snprintf(field, width, "%s", value ? value : "");
}
#define SET(field) set_text(args->field, sizeof args->field, optarg)

void parse_cli(int argc, char **argv, cli_args *args, cli_result *res)
{
    memset(args, 0, sizeof *args);
    args->logsizelimit = -1;
    memset(res, 0, sizeof *res);
    res->action = CLI_RUN;
    optind = 1;

    int c;
    while ((c = getopt_long(argc, argv, short_options, long_options, nullptr)) != -1) {
        switch (c) {
        case 'c': SET(config_tarn); break;
        case 't': SET(tdm_settings); break;
        case 's': SET(config_sip); break;
        case 'i': SET(config_isdn); break;
        case 'm': SET(config_gsm); break;
        case 'p': SET(dialplan); break;
        case 'l': SET(loglevel); break;
        case 'w': SET(loglevel2); break;
        case 'e': SET(etc); break;
        case 'n': SET(config_tones); break;
        case 'd': SET(daemonize); break;
        case 'f': SET(logrotate); break;
        case 'z': args->logsizelimit = (int32_t)strtol(optarg, nullptr, 10); break;
        case OPT_NLOGSIZE: args->nlogsizelimit = (int32_t)strtol(optarg, nullptr, 10); break;
        case 'r': SET(regexptest); break;
        case 'g': set_core_dump(); break;
        case 'M': SET(cause_map); break;
        case 'P': SET(ptp); break;
        case 'C': tarn_print_configuration = 1; break;
        case 'o': args->logstdout = 1; break;
        case 'L': break;
        case 'G': break;
        case 'q':
            SET(msp_multicast_bytes);
            args->msp_multicast_remove = 0;
            break;
        case 'Q':
            SET(msp_multicast_bytes);
            args->msp_multicast_remove = 1;
            break;
        case 'E':
            fputs("ENUM SUPPORT\n", stderr);
            exit(0);
        case 'h':
            print_usage();
            cli_fail();
        case 'v': {
            char v[64];
            cli_version_text(v, sizeof v);
            fprintf(stderr, "TARN version: %s\n", v);
            cli_fail();
        }
        case 'D': res->action = CLI_DEFAULT_SETTINGS; return;
        case 'N': res->action = CLI_DEFAULT_CALLCONF; return;
        case 'A': res->action = CLI_MSP_ALIVE; return;
        case 'S':
        case 'R':
        case 'V':
            res->action = c == 'S' ? CLI_MODULE_SETTINGS : c == 'R' ? CLI_RESOLVE : CLI_SRV_RESOLVE;
            set_text(res->argument, sizeof res->argument, optarg);
            return;
        case '?':
            print_usage();
            cli_fail();
        default:
            fprintf(stderr, "Unhandled option: %c\n", c);
            cli_fail();
        }
    }
    tarn_daemon_mode = args->daemonize[0] == '1';
}
