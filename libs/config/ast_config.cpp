#include "ast_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "ast_config_internal.h"

ast_category *ast_category_new(const char *name)
{
    ast_category *cat = (ast_category *)calloc(1, sizeof(ast_category));
    if (cat)
        snprintf(cat->name, sizeof cat->name, "%s", name ? name : "");
    return cat;
}

void ast_category_append(ast_config *cfg, ast_category *cat)
{
    if (cfg->last)
        cfg->last->next = cat;
    else
        cfg->root = cat;
    cfg->last = cat;
}

void ast_category_free(ast_category *cat)
{
    if (!cat)
        return;
    ast_variables_destroy(cat->root);
    free(cat);
}

ast_category *ast_category_find(const ast_config *cfg, const char *name)
{
    for (ast_category *c = cfg->root; c; c = c->next)
        if (strcasecmp(c->name, name) == 0)
            return c;
    return nullptr;
}

ast_variable *ast_variable_new(const char *name, const char *value, int lineno, int object)
{
    size_t nl = strlen(name) + 1, vl = strlen(value) + 1;
    ast_variable *v = (ast_variable *)calloc(1, sizeof(ast_variable) + nl + vl);
    if (!v)
        return nullptr;
    v->name = (char *)(v + 1);
    v->value = v->name + nl;
    memcpy(v->name, name, nl);
    memcpy(v->value, value, vl);
    v->lineno = lineno;
    v->object = object;
    return v;
}

void ast_variable_append(ast_category *cat, ast_variable *var)
{
    if (cat->last)
        cat->last->next = var;
    else
        cat->root = var;
    cat->last = var;
}

void ast_variables_destroy(ast_variable *var)
{
    while (var) {
        ast_variable *next = var->next;
        free(var);
        var = next;
    }
}

int ast_config_enter_level(ast_config *cfg)
{
    if (cfg->include_level >= cfg->max_include_level) {
        printf("Maximum Include level (%d) exceeded\n", cfg->max_include_level);
        return -1;
    }
    cfg->include_level++;
    return 0;
}

void ast_config_leave_level(ast_config *cfg)
{
    cfg->include_level--;
}

ast_config *ast_config_internal_load(const char *path, ast_config *cfg, int withcomments)
{
    if (!cfg || ast_config_enter_level(cfg) != 0)
        return nullptr;
    ast_config *result = config_text_file_load(nullptr, nullptr, path, cfg, withcomments);
    ast_config_leave_level(cfg);
    return result;
}

ast_config *ast_config_load(const char *path)
{
    ast_config *cfg = (ast_config *)calloc(1, sizeof(ast_config));
    if (!cfg)
        return nullptr;
    cfg->max_include_level = AST_MAX_INCLUDE_LEVEL;
    if (!ast_config_internal_load(path, cfg, 0)) {
        ast_config_destroy(cfg);
        return nullptr;
    }
    return cfg;
}

char *ast_category_browse(ast_config *cfg, const char *prev)
{
    if (!cfg)
        return nullptr;
    ast_category *cat = nullptr;
    if (!prev) {
        cat = cfg->root;
    } else if (cfg->last_browse && prev == cfg->last_browse->name) {
        cat = cfg->last_browse->next;
    } else {
        ast_category *c;
        for (c = cfg->root; c && c->name != prev; c = c->next) {
        }
        if (!c)
            c = ast_category_find(cfg, prev);
        cat = c ? c->next : nullptr;
    }
    while (cat && cat->ignored)
        cat = cat->next;
    cfg->last_browse = cat;
    return cat ? cat->name : nullptr;
}

ast_variable *ast_variable_browse(const ast_config *cfg, const char *category)
{
    if (!cfg || !category)
        return nullptr;
    for (ast_category *c = cfg->root; c; c = c->next)
        if (c->name == category)
            return c->root;
    for (ast_category *c = cfg->root; c; c = c->next)
        if (!c->ignored && strcasecmp(c->name, category) == 0)
            return c->root;
    return nullptr;
}

void ast_config_destroy(ast_config *cfg)
{
    if (!cfg)
        return;
    ast_category *c = cfg->root;
    while (c) {
        ast_category *next = c->next;
        ast_category_free(c);
        c = next;
    }
    free(cfg);
}
