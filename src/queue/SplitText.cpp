#include "SplitText.h"

void SplitText(std::vector<std::string>& lines, const std::string& text,
               const std::string& separators) {
    lines.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find_first_of(separators, start);
        if (end == std::string::npos) {
            break;
        }
        if (end > start) {
            lines.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
}
