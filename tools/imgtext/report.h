// What a run reports for machines to read (--report): JSON lines.
#ifndef IMGTEXT_TOOL_REPORT_H
#define IMGTEXT_TOOL_REPORT_H

#include <string>

// text as a JSON string, quotes included. Paths may hold any bytes: a byte
// that is not part of valid UTF-8 becomes U+FFFD, so every line parses.
std::string json_string(const std::string &text);

#endif
