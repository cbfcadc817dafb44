#pragma once

#include <string>
#include <vector>

// The URLs of an Add URL text: one per line (CR and LF each end a line), each without control
// characters and trimmed of blanks, so that every item survives a save and a load unchanged.
// Lines left empty are dropped.
std::vector<std::string> UrlLines(const std::string& text);
