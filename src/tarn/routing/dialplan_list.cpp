// Listings of the loaded dial plan.
#include "application.h"
#include "dialplan.h"
#include "dialplan_console.h"

// Unset texts print as the C library prints a null text.
static const char *text(const char *s)
{
    return s ? s : "(null)";
}

void dialplan_list_element(FILE *out, const dialplan_element *e)
{
    if (!out || !e)
        return;
    fprintf(out, "%i\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", e->line, dialplan_get_tech_name(e->from_tech),
            dialplan_get_tech_name(e->to_tech), text(e->from_id), text(e->to_id), text(e->original_destination),
            text(e->new_destination), text(e->original_source), text(e->new_source), text(e->config));
}

void dialplan_list_element_dbg(FILE *out, const dialplan_element *e)
{
    if (!out || !e)
        return;
    fprintf(out, "%i\t%p\t%p\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", e->line, (void *)e->pd_in, (void *)e->pd_out,
            dialplan_get_tech_name(e->from_tech), dialplan_get_tech_name(e->to_tech), text(e->from_id),
            text(e->to_id), text(e->original_destination), text(e->new_destination), text(e->original_source),
            text(e->new_source), text(e->config));
}

static void list_table(FILE *out, const char *head, void (*line)(FILE *, const dialplan_element *))
{
    if (!out)
        return;
    fputs(head, out);
    if (!gp || !gp->dialplan)
        return;
    for (int i = 0; i < gp->dialplan_size; i++)
        line(out, &gp->dialplan[i]);
}

void dialplan_list(FILE *out)
{
    list_table(out, "Line\tFromTech\tToTech\tFromID\tToId\tOrig.Dest\tNew Dest\tOrig.Source\tNew Source\tConfig\n",
               dialplan_list_element);
}

void dialplan_list_dbg(FILE *out)
{
    list_table(out,
               "Line\tpdin\tpdout\tFromTech\tToTech\tFromID\tToId\tOrig.Dest\tNew Dest\tOrig.Source\tNew Source\t"
               "Config\n",
               dialplan_list_element_dbg);
}
