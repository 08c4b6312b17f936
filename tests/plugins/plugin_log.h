// A line appended to a test module's log, the file opened and closed each time so that the log
// is whole however the host ends: prefix, then the formatted text.
#pragma once
#include <cstdarg>
#include <cstdio>

__attribute__((format(printf, 3, 0))) inline void append_log_line(const char* file, const char* prefix,
                                                                  const char* format, va_list args) {
    FILE* log = std::fopen(file, "a");
    if (!log) return;
    std::fputs(prefix, log);
    std::vfprintf(log, format, args);
    std::fputc('\n', log);
    std::fclose(log);
}
