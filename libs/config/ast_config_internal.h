// Pieces shared by the parts of the text-file parser.
#pragma once
#include <cstdio>

#include "ast_config.h"

// New category named by the first 79 characters of name; null without memory.
ast_category *ast_category_new(const char *name);
void ast_category_append(ast_config *cfg, ast_category *cat);
// Frees a category that is not (or no longer) in a config, with its variables.
void ast_category_free(ast_category *cat);
// First category of that name (ignoring case), templates included, or null.
ast_category *ast_category_find(const ast_config *cfg, const char *name);

// New variable with both texts in its own allocation; null without memory.
ast_variable *ast_variable_new(const char *name, const char *value, int lineno, int object);
void ast_variable_append(ast_category *cat, ast_variable *var);
void ast_variables_destroy(ast_variable *var);

// Include depth: enter returns 0 (one level deeper) or -1 after printing
// that the maximum is reached; leave goes back up.
int ast_config_enter_level(ast_config *cfg);
void ast_config_leave_level(ast_config *cfg);

// Reads an open file into cfg; name is used in messages. cfg, or null when
// a fatal line was met (what was read before it stays in cfg).
ast_config *config_text_stream_load(FILE *f, const char *name, ast_config *cfg);

// The "#exec" directive: runs command into a private temporary file, reads
// that file into cfg one include level deeper, and removes it.
void config_exec_directive(ast_config *cfg, const char *command);
