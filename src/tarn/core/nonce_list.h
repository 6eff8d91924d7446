// The SIP authentication nonces handed out to peers, each with its remaining
// lifetime. The list's head is an entry of its own that carries no nonce and
// holds the list's mutex; housekeeping ages the entries once a second.
#pragma once
#include <pthread.h>

#include <cstdint>

struct nonce_entry {
    char nonce[64];
    int32_t lifetime; // seconds left
    nonce_entry *next;
    pthread_mutex_t lock; // used in the head only
};

// The empty list (its head).
nonce_entry *nonce_list_create();
// Appends a nonce with its lifetime in seconds; 0, or -1 without memory.
int nonce_list_add(nonce_entry *head, const char *nonce, int lifetime);
// The lifetime left of a nonce, or -1 when it is not listed.
int nonce_list_find(nonce_entry *head, const char *nonce);
// One second passes: every lifetime drops by one, and every entry whose
// lifetime is 0 or less is removed, wherever it stands in the list.
void nonce_list_age(nonce_entry *head);
int nonce_list_count(nonce_entry *head);
// Frees the entries and the head.
void nonce_list_free(nonce_entry *head);
