// Configuration text files: bracketed categories of name = value lines, with
// ';' line comments, nestable ";--" "--;" block comments, templates and
// inheritance in the header options, and "#include" / "#exec" directives.
// One file (and what it pulls in) is parsed into an ast_config; values stay
// raw text. Problems are reported with printf on standard output.
#pragma once
#include <cstdio>

enum {
    AST_CATEGORY_NAME_SIZE = 80, // names keep at most 79 characters
    AST_CONFIG_PATH_SIZE = 256,  // paths of at most 255 characters
    AST_CONFIG_LINE_SIZE = 8192, // bytes per read; a longer line is read in pieces
    AST_MAX_NESTED_COMMENTS = 128,
    AST_MAX_INCLUDE_LEVEL = 10,
    // Inheritance copies a base's variables; a few lines that inherit from
    // what inherited before would double a category per line. Copies beyond
    // this many in one config fail the file.
    AST_MAX_COPIED_VARIABLES = 100000
};

struct ast_variable {
    char *name;  // both texts live in the same allocation as the record
    char *value;
    int lineno;  // line of the file it was read from
    int object;  // 1 when written with "=>"
    ast_variable *next;
};

struct ast_category {
    char name[AST_CATEGORY_NAME_SIZE]; // first field: the record serves as its name
    int ignored;                       // 1 for a template, which browsing skips
    int include_level;                 // include depth it was created at
    ast_variable *root;
    ast_variable *last;
    ast_category *next;
};

struct ast_config {
    ast_category *root;
    ast_category *last;
    ast_category *current;     // category that receives lines
    ast_category *last_browse; // category returned by the previous browse step
    int include_level;
    int max_include_level;
    int copied; // variables copied by inheritance so far
};

// Parses path into a new config; null (everything freed) when it fails.
ast_config *ast_config_load(const char *path);
// Parses path into cfg one include level deeper; cfg, or null.
ast_config *ast_config_internal_load(const char *path, ast_config *cfg, int withcomments);
// The text reader behind ast_config_internal_load (database and table unused).
ast_config *config_text_file_load(const char *database, const char *table, const char *path,
                                  ast_config *cfg, int withcomments);
// Next non-template category name after prev (first when prev is null), or null.
char *ast_category_browse(ast_config *cfg, const char *prev);
// Variables of a category (given by the browse result or by name), or null.
ast_variable *ast_variable_browse(const ast_config *cfg, const char *category);
void ast_config_destroy(ast_config *cfg);

// "#exec" runs its command with standard output and error on out_fd and
// returns once it has ended (0, or -1 when it could not be run). The default
// runs "/bin/sh -c command"; tests and fuzzers install their own.
typedef int (*ast_exec_runner_t)(const char *command, int out_fd);
void ast_config_set_exec_runner(ast_exec_runner_t runner); // null: the default
