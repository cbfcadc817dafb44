#pragma once

#include <functional>
#include <string>
#include <string_view>

inline constexpr std::string_view VersionHeaderName = "ActualDFXVersion";
inline constexpr std::string_view ProgramVersion = "v.0.2";

// Called on the transfer thread when a server announces another version. The application
// installs it; it may block until the user has answered.
using NewVersionHook = std::function<void()>;

// Installs the hook (an empty function removes it). Safe to call while transfers run.
void SetNewVersionHook(NewVersionHook hook);

// Compares the server's value with ProgramVersion byte for byte and notifies on any difference.
void CheckServerVersion(const std::string& serverVersion);

// Runs the installed hook; does nothing when none is installed.
void NotifyNewVersion();
