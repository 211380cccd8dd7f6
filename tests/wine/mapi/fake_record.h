/* What each test stand-in DLL shares: the call record, lines the test takes
 * (and so clears) through FakeTakeLog, and the count of what the component
 * has not given back. Included once per stand-in. */
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __declspec(dllexport)

static char g_log[1 << 20];
static size_t g_logSize;
static LONG g_allocations, g_objects;

/* A line; one that no longer fits is left out. */
static void Log(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(g_log + g_logSize, sizeof g_log - g_logSize, format, args);
    va_end(args);
    if (n >= 0 && g_logSize + n + 1 < sizeof g_log) g_logSize += n, g_log[g_logSize++] = '\n';
    g_log[g_logSize] = 0;
}

/* The record so far, truncated to `size`; clears it. */
EXPORT DWORD WINAPI FakeTakeLog(char *buffer, DWORD size) {
    snprintf(buffer, size, "%s", g_log);
    DWORD n = (DWORD)g_logSize;
    g_log[g_logSize = 0] = 0;
    return n;
}

/* Buffers (through the result) and objects not yet given back. */
EXPORT LONG WINAPI FakeOutstanding(LONG *objects) {
    *objects = g_objects;
    return g_allocations;
}
