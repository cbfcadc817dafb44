#pragma once

#include <string>

// A URL cut into what a request needs. The split is purely textual: nothing is decoded,
// validated or normalised, and a port or user information stays in the host.
struct UrlParts {
    std::string host;
    std::string path;   // from the first "/" after the host up to "?" or "#"; "/" when absent
    std::string suffix; // from the first "?" or "#" after the path to the end; may be empty
};

UrlParts SplitUrl(const std::string& url);
