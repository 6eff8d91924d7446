#include "isdn_interrogate.h"

#include <cstdio>

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
