#pragma once

#include "TransferActivity.h"

#include <optional>
#include <string>
#include <string_view>

// The rules for what a transfer asks for, free of any connection.

// The object as it goes on the wire: the fragment stays with the client, and bytes that may not
// stand in a request line are percent-encoded. Existing escapes are kept as they are.
std::string RequestTarget(std::string_view objectPath);

// The address libcurl asks for: "http" for a scheme that is "" or "http" in any case, "https"
// for "https"; the port when not 0; the target as it goes on the wire.
std::string RequestUrl(std::string_view scheme, std::string_view hostName, int port,
                       std::string_view target);

// Why an address cannot be asked for at all, as a failure of the request step: a scheme other
// than http and https ("" is http), a host that is empty or still holds a port (one out of range
// or not a number stays in the host). None when it can be asked for.
std::optional<TransferFailure> AddressFailure(std::string_view scheme, std::string_view host);
