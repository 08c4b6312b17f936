// The helpers of reload outcomes: the console writer and the first line of a log.
#include "authoring/dev/reload_outcome.h"

#include <iostream>

void tell_console(const cReloadOutcome& outcome) {
    for (const cConsoleLine& line : outcome.console) (line.problem ? std::cerr : std::cout) << line.text << std::endl;
}

std::string first_line_of(const std::string& text) {
    size_t begin = 0;
    // Logs often open with a blank line.
    while (begin < text.size() && (text[begin] == '\n' || text[begin] == '\r')) ++begin;
    const size_t end = text.find_first_of("\r\n", begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}
