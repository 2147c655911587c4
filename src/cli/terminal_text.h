// Text for the terminal and for JSON output. Names come from the disk being
// recovered and may hold anything: on a terminal they must never move the
// cursor, clear the screen or start a line of their own.
#pragma once

#include <cstdint>
#include <string>

namespace qm::cli {

// Control characters (C0, DEL, C1) and bytes that are not UTF-8 shown as
// \n, \t, \e, \xNN or \u0085 escapes; everything else as it is.
std::string TerminalSafe(const std::string& text);

std::string JsonEscape(const std::string& text);

// "1 file", "2 files".
std::string CountOf(uint64_t count, const char* singular, const char* plural);

}  // namespace qm::cli
