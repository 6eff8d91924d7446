// The text reader: one file, line by line, into categories and variables.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ast_config.h"
#include "ast_config_internal.h"

namespace {

// State of one file being read. The block-comment depth carries over from
// line to line within the file.
struct reader {
    ast_config *cfg;
    const char *name;   // file name for messages
    ast_category *cat;  // category that receives lines
    int lineno;
    int depth;
    int nest[AST_MAX_NESTED_COMMENTS]; // line where each open block comment began
};

// Cuts comments out of buf and returns the text that is left to parse, or
// null when the whole line lies inside a block comment.
char *strip_comments(reader &r, char *buf)
{
    char *text = r.depth == 0 ? buf : nullptr;
    char *scan = buf;
    for (char *semi; (semi = strchr(scan, ';')) != nullptr;) {
        if (semi > scan && semi[-1] == '\\') {
            // "\;" is a literal ';': drop the backslash, go on after the ';'.
            memmove(semi - 1, semi, strlen(semi) + 1);
            scan = semi;
            continue;
        }
        if (semi[1] == '-' && semi[2] == '-' && semi[3] != '-') {
            if (r.depth < AST_MAX_NESTED_COMMENTS) {
                *semi = '\0';
                r.nest[r.depth++] = r.lineno;
            } else {
                printf("Maximum nest limit of %d reached.\n", AST_MAX_NESTED_COMMENTS);
            }
            scan = semi + 3;
            continue;
        }
        if (semi >= scan + 2 && semi[-1] == '-' && semi[-2] == '-') {
            if (r.depth == 0) {
                // A closing marker with no open comment: it ends the line like
                // a ';' would, and the depth stays where it is.
                printf("Stray end of block comment at line %d of %s\n", r.lineno, r.name);
                semi[-2] = '\0';
                break;
            }
            r.depth--;
            scan = semi + 1;
            if (r.depth == 0) {
                if (text) {
                    // The comment began on this line: join both sides of it.
                    char *end = text + strlen(text);
                    memmove(end, scan, strlen(scan) + 1);
                    scan = end;
                } else {
                    text = scan;
                }
            }
            continue;
        }
        if (r.depth == 0) {
            *semi = '\0';
            break;
        }
        scan = semi + 1;
    }
    return text;
}

// Strips codes 1-32 at the front and codes up to 32 at the end.
char *trim(char *s)
{
    while (*s && (unsigned char)*s <= 32)
        s++;
    size_t len = strlen(s);
    while (len > 0 && (unsigned char)s[len - 1] <= 32)
        s[--len] = '\0';
    return s;
}

// Appends copies of the first n variables of the list at src to cat.
int copy_variables(ast_category *cat, const ast_variable *src, int n)
{
    for (; src && n > 0; src = src->next, n--) {
        ast_variable *v = ast_variable_new(src->name, src->value, src->lineno, src->object);
        if (!v)
            return -1;
        ast_variable_append(cat, v);
    }
    return 0;
}

int count_variables(const ast_category *cat)
{
    int n = 0;
    for (const ast_variable *v = cat->root; v; v = v->next)
        n++;
    return n;
}

// "[name](options) ...": 0, or -1 for a fatal error.
int category_header(reader &r, char *text)
{
    char *close = strchr(text + 1, ']');
    if (!close) {
        printf("parse error: no closing ']', line %d of %s\n", r.lineno, r.name);
        return -1;
    }
    *close = '\0';
    ast_category *fresh = ast_category_new(text + 1);
    if (!fresh)
        return -1;
    fresh->include_level = r.cfg->include_level;
    ast_category *target = fresh; // the category the options act on
    if (close[1] == '(') {
        char *opts = close + 2;
        char *end = strchr(opts, ')');
        if (!end) {
            printf("parse error: no closing ')', line %d of %s\n", r.lineno, r.name);
            ast_category_free(fresh);
            return -1;
        }
        *end = '\0';
        char *save = nullptr;
        for (char *opt = strtok_r(opts, ",", &save); opt; opt = strtok_r(nullptr, ",", &save)) {
            opt = trim(opt);
            if (!*opt)
                continue;
            if (strcmp(opt, "!") == 0) {
                target->ignored = 1;
            } else if (strcmp(opt, "+") == 0) {
                ast_category *earlier = ast_category_find(r.cfg, target->name);
                if (earlier && earlier != target) {
                    // Continue the earlier category; what this header has
                    // gathered so far moves over.
                    if (earlier->last)
                        earlier->last->next = fresh->root;
                    else
                        earlier->root = fresh->root;
                    if (fresh->root)
                        earlier->last = fresh->last;
                    fresh->root = fresh->last = nullptr;
                    ast_category_free(fresh);
                    fresh = nullptr;
                    target = earlier;
                }
            } else {
                ast_category *base = ast_category_find(r.cfg, opt);
                if (!base) {
                    printf("Inheritance requested, but category '%s' does not exist, line %d of %s\n",
                           opt, r.lineno, r.name);
                    ast_category_free(fresh);
                    return -1;
                }
                int n = count_variables(base);
                if (n > AST_MAX_COPIED_VARIABLES - r.cfg->copied) {
                    printf("Inheritance of '%s' would copy more than %d variables in all, line %d of %s\n",
                           opt, AST_MAX_COPIED_VARIABLES, r.lineno, r.name);
                    ast_category_free(fresh);
                    return -1;
                }
                r.cfg->copied += n;
                if (copy_variables(target, base->root, n) != 0) {
                    ast_category_free(fresh);
                    return -1;
                }
            }
        }
    }
    if (fresh)
        ast_category_append(r.cfg, fresh);
    r.cfg->current = target;
    r.cat = target;
    return 0;
}

// "#word argument".
void directive(reader &r, char *text)
{
    char *word = text + 1;
    char *arg = word + strcspn(word, " \t");
    if (*arg) {
        *arg++ = '\0';
        arg += strspn(arg, " \t");
    }
    while (*arg == '<' || *arg == '>' || *arg == '"')
        arg++;
    size_t len = strlen(arg);
    while (len > 0 && (arg[len - 1] == '<' || arg[len - 1] == '>' || arg[len - 1] == '"'))
        arg[--len] = '\0';

    bool include = strcasecmp(word, "include") == 0;
    bool exec = strcasecmp(word, "exec") == 0;
    if (!include && !exec) {
        printf("Unknown directive '%s' at line %d of %s\n", word, r.lineno, r.name);
        return;
    }
    if (!*arg) {
        printf("Directive '#%s' needs an argument (%s) at line %d of %s\n",
               include ? "include" : "exec", include ? "filename" : "/path/to/executable",
               r.lineno, r.name);
        return;
    }
    if (include)
        ast_config_internal_load(arg, r.cfg, 0);
    else
        config_exec_directive(r.cfg, arg);
    // Whatever the pulled-in text did, this file goes on where it was, and
    // a further include starts in this file's category again.
    r.cfg->current = r.cat;
}

// "name = value" or "name => value": 0, or -1 for a fatal error.
int variable(reader &r, char *text)
{
    if (!r.cat) {
        printf("parse error: No category context for line %d of %s\n", r.lineno, r.name);
        return -1;
    }
    char *eq = strchr(text, '=');
    if (!eq) {
        printf("No '=' (equal sign) in line %d of %s\n", r.lineno, r.name);
        return 0;
    }
    *eq = '\0';
    char *value = eq + 1;
    int object = 0;
    if (*value == '>') {
        object = 1;
        value++;
    }
    ast_variable *v = ast_variable_new(trim(text), trim(value), r.lineno, object);
    if (!v)
        return -1;
    ast_variable_append(r.cat, v);
    return 0;
}

} // namespace

ast_config *config_text_stream_load(FILE *f, const char *name, ast_config *cfg)
{
    reader r = {};
    r.cfg = cfg;
    r.name = name;
    r.cat = cfg->current;
    int failed = 0;
    char buf[AST_CONFIG_LINE_SIZE];
    while (!failed && fgets(buf, sizeof buf, f)) {
        r.lineno++;
        char *text = strip_comments(r, buf);
        if (!text)
            continue;
        text = trim(text);
        if (!*text)
            continue;
        if (*text == '[')
            failed = category_header(r, text);
        else if (*text == '#')
            directive(r, text);
        else
            failed = variable(r, text);
    }
    if (r.depth > 0)
        printf("Unterminated comment detected beginning on line %d\n", r.nest[r.depth - 1]);
    return failed ? nullptr : cfg;
}

ast_config *config_text_file_load(const char *database, const char *table, const char *path,
                                  ast_config *cfg, int withcomments)
{
    (void)database;
    (void)table;
    (void)withcomments;
    if (!path || !cfg)
        return nullptr;
    char fn[AST_CONFIG_PATH_SIZE];
    // A longer path cannot be named here; cutting it could open another file.
    if (strlen(path) >= sizeof fn)
        return nullptr;
    snprintf(fn, sizeof fn, "%s", path);
    struct stat st;
    if (stat(fn, &st) != 0)
        return nullptr;
    if (!S_ISREG(st.st_mode)) {
        printf("'%s' is not a regular file, ignoring\n", fn);
        return nullptr;
    }
    int fd = open(fn, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return nullptr;
    // The file may have been swapped since stat: check what was opened.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE *f = fdopen(fd, "r");
    if (!f) {
        close(fd);
        return nullptr;
    }
    ast_config *result = config_text_stream_load(f, fn, cfg);
    fclose(f);
    return result;
}
