/* The call record the test stand-ins keep: formatted lines appended to one
 * growing buffer, which the test program takes (and so clears) through an
 * export of each stand-in. Included once per stand-in DLL. */
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char *g_log;
static size_t g_logSize, g_logCap;

/* Formats one line into `line` (size bytes, ended by a line feed) and
 * appends it to the record; gives the line's length, 0 when it failed. */
static int RecordLine(char *line, size_t size, const char *format, va_list args) {
    int n = vsnprintf(line, size - 1, format, args);
    if (n < 0) return 0;
    if (n > (int)size - 2) n = (int)size - 2;
    line[n++] = '\n';
    if (g_logSize + n + 1 > g_logCap) {
        size_t cap = (g_logCap + n + 1) * 2;
        char *grown = realloc(g_log, cap);
        if (!grown) return 0;
        g_log = grown;
        g_logCap = cap;
    }
    memcpy(g_log + g_logSize, line, n);
    g_logSize += n;
    g_log[g_logSize] = 0;
    return n;
}

/* The record so far (copied into `buffer`, truncated to `size`); clears it. */
static DWORD TakeRecord(char *buffer, DWORD size) {
    DWORD n = (DWORD)g_logSize;
    if (buffer && size) {
        DWORD copy = n < size - 1 ? n : size - 1;
        if (g_log) memcpy(buffer, g_log, copy);
        buffer[copy] = 0;
    }
    g_logSize = 0;
    return n;
}
