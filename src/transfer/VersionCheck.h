#pragma once

#include "ProgramVersion.h"

#include <functional>
#include <string>
#include <string_view>

inline constexpr std::string_view VersionHeaderName = "ActualDFXVersion";

// Called on the transfer thread when a server announces another version. The application
// installs it; it may block until the user has answered.
using NewVersionHook = std::function<void()>;

// Installs the hook (an empty function removes it). Safe to call from any thread while transfers
// run, also from inside the hook; a hook already running finishes with the old function.
void SetNewVersionHook(NewVersionHook hook);

// Compares the server's value with ProgramVersion byte for byte (case-sensitive, no trimming,
// no numeric reading) and calls NotifyNewVersion once on any difference.
void CheckServerVersion(const std::string& serverVersion);

// Runs the installed hook on the calling thread (taken under a lock, called outside it); does
// nothing when none is installed.
void NotifyNewVersion();
