/* What each test stand-in DLL shares: the call record, lines the test takes
 * (and so clears) through FakeTakeLog, and the count of what the component
 * has not given back. Included once per stand-in. */
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __declspec(dllexport)

static char *g_log;
static size_t g_logSize;
static LONG g_allocations, g_objects;

static void Log(const char *format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0) return;
    if (n > (int)sizeof line - 2) n = (int)sizeof line - 2;
    line[n++] = '\n';
    char *grown = realloc(g_log, g_logSize + n + 1);
    if (!grown) return;
    g_log = grown;
    memcpy(g_log + g_logSize, line, n);
    g_logSize += n;
    g_log[g_logSize] = 0;
}

/* The record so far, truncated to `size`; clears it. */
EXPORT DWORD WINAPI FakeTakeLog(char *buffer, DWORD size) {
    DWORD n = (DWORD)g_logSize;
    snprintf(buffer, size, "%s", g_log && n ? g_log : "");
    g_logSize = 0;
    return n;
}

/* Buffers (through the result) and objects not yet given back. */
EXPORT LONG WINAPI FakeOutstanding(LONG *objects) {
    *objects = g_objects;
    return g_allocations;
}
