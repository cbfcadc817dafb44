#pragma once

#include <string>

// Numbered text settings of the current user: index n is the value "s<n>" ("s0" the download
// folder, "s1" the full path of the list file). On Windows they live in the registry under
// HKEY_CURRENT_USER\SOFTWARE\DartfluxFull; elsewhere in the INI file "DartfluxFull.ini" in the
// user's config folder (QStandardPaths::GenericConfigLocation, usually ~/.config). Failures are
// silent: a missing, unreadable or non-text value reads as "", a failed write changes nothing.
std::string ReadSetting(int index);
void WriteSetting(int index, const std::string& text);

// Where the settings live: the INI file's path, or the registry key's path on Windows.
std::string SettingsLocation();
