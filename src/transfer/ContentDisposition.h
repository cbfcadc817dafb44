#pragma once

#include <optional>
#include <string>

// The file name a Content-Disposition value names, or none. A "filename*=charset'lang'value"
// parameter (UTF-8 or ISO-8859-1) is decoded and preferred; otherwise the first "filename"
// parameter counts, quoted or bare, even when empty. The name is returned as sent: making it
// safe is the caller's business.
std::optional<std::string> FileNameFromContentDisposition(const std::string& value);
