#include "nonce_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

nonce_entry *nonce_list_create()
{
    nonce_entry *head = (nonce_entry *)calloc(1, sizeof(nonce_entry));
    if (head)
        pthread_mutex_init(&head->lock, nullptr);
    return head;
}

int nonce_list_add(nonce_entry *head, const char *nonce, int lifetime)
{
    if (!head || !nonce)
        return -1;
    nonce_entry *e = (nonce_entry *)calloc(1, sizeof(nonce_entry));
    if (!e)
        return -1;
    snprintf(e->nonce, sizeof e->nonce, "%s", nonce);
    e->lifetime = lifetime;
    pthread_mutex_lock(&head->lock);
    nonce_entry **tail = &head->next;
    while (*tail)
        tail = &(*tail)->next;
    *tail = e;
    pthread_mutex_unlock(&head->lock);
    return 0;
}

int nonce_list_find(nonce_entry *head, const char *nonce)
{
    if (!head || !nonce)
        return -1;
    int lifetime = -1;
    pthread_mutex_lock(&head->lock);
    for (nonce_entry *e = head->next; e; e = e->next)
        if (strcmp(e->nonce, nonce) == 0) {
            lifetime = e->lifetime;
            break;
        }
    pthread_mutex_unlock(&head->lock);
    return lifetime;
}

// Expired entries are taken out wherever they stand: one that expired behind
// a younger one must not stay valid.
void nonce_list_age(nonce_entry *head)
{
    if (!head)
        return;
    pthread_mutex_lock(&head->lock);
    nonce_entry **link = &head->next;
    while (nonce_entry *e = *link) {
        e->lifetime--;
        if (e->lifetime <= 0) {
            *link = e->next;
            free(e);
        } else {
            link = &e->next;
        }
    }
    pthread_mutex_unlock(&head->lock);
}

int nonce_list_count(nonce_entry *head)
{
    if (!head)
        return 0;
    int n = 0;
    pthread_mutex_lock(&head->lock);
    for (nonce_entry *e = head->next; e; e = e->next)
        n++;
    pthread_mutex_unlock(&head->lock);
    return n;
}

void nonce_list_free(nonce_entry *head)
{
    if (!head)
        return;
    nonce_entry *e = head->next;
    while (e) {
        nonce_entry *next = e->next;
        free(e);
        e = next;
    }
    pthread_mutex_destroy(&head->lock);
    free(head);
}
