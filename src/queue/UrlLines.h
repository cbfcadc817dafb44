#pragma once

#include "DownloadItem.h"

#include <string>
#include <vector>

// The URLs of an Add URL text: one per line (CR and LF each end a line), each without control
// characters and trimmed of blanks, so that every item survives a save and a load unchanged.
// Lines left empty are dropped.
std::vector<std::string> UrlLines(const std::string& text);

// The URL lines (see UrlLines) that start with a scheme ("https://..."), one per line: what a
// drop or a paste offers may hold other text, which is left out.
std::string SchemeUrlText(const std::string& text);

// One Ready item per URL line, showing its URL until its transfer learns a name.
DownloadItems UrlItems(const std::string& text);
