#include "isdn_interrogate.h"

#include <cstdio>

#include "fac_coder.h"

char interrogateDiversionResponseBuf[INTERROGATE_LINES][INTERROGATE_LINE_LEN];
char interrogateNumbersResponseBuf[INTERROGATE_LINES][INTERROGATE_LINE_LEN];
unsigned char interrogateDiversionResponseCount;
unsigned char interrogateNumbersResponseCount;

void isdn_interrogate_add_line(int numbers, const char *line)
{
    char(*buf)[INTERROGATE_LINE_LEN] = numbers ? interrogateNumbersResponseBuf : interrogateDiversionResponseBuf;
    unsigned char &count = numbers ? interrogateNumbersResponseCount : interrogateDiversionResponseCount;
    if (count >= INTERROGATE_LINES)
        return;
    snprintf(buf[count], INTERROGATE_LINE_LEN, "%s", line ? line : "");
    count++;
}

int isdn_interrogate_take_result(const unsigned char *ie)
{
    FacInterrogationEntry e[INTERROGATE_LINES];
    int op;
    int n = fac_interrogation_result(ie, &op, e, INTERROGATE_LINES);
    if (n < 0)
        return 0;
    int numbers = op == Fac_CFInterrogateNumbers;
    (numbers ? interrogateNumbersResponseCount : interrogateDiversionResponseCount) = 0;
    static const char *const procedures[] = {"cfu", "cfb", "cfnr"};
    for (int i = 0; i < n && i < INTERROGATE_LINES; i++) {
        char line[INTERROGATE_LINE_LEN];
        const char *served = e[i].ServedUserNumber[0] ? e[i].ServedUserNumber : "all";
        if (numbers) {
            snprintf(line, sizeof line, "ServedUserNumber |%s| Ton |%i|", served, e[i].ServedUserTon);
        } else {
            char proc[16];
            if (e[i].Procedure >= 0 && e[i].Procedure <= 2)
                snprintf(proc, sizeof proc, "%s", procedures[e[i].Procedure]);
            else
                snprintf(proc, sizeof proc, "%i", e[i].Procedure);
            snprintf(line, sizeof line,
                     "Procedure |%s| BasicService |%i| ServedUserNumber |%s| Ton |%i| ForwardedToNumber |%s| Ton |%i|",
                     proc, e[i].BasicService, served, e[i].ServedUserTon, e[i].ForwardedToNumber,
                     e[i].ForwardedToTon);
        }
        isdn_interrogate_add_line(numbers, line);
    }
    return 1;
}
