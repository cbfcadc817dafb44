#pragma once

#include <string>
#include <vector>

// Empties lines, then appends every non-empty piece of text between separators (any character
// of separators is one). Nothing is trimmed; a last piece without a separator counts.
void SplitText(std::vector<std::string>& lines, const std::string& text,
               const std::string& separators);
