#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The numbered settings in use: value "s<index>".
enum SettingIndex : int {
    DownloadFolderSetting = 0, // "s0": the download folder
    ListPathSetting = 1,       // "s1": the full path of the list file
};

// The named settings in use.
inline constexpr const char* SpeedLimitSetting = "speedLimit"; // bytes per second, 0: none

// Numbered text settings of the current user: index n is the value "s<n>". On Windows they live
// in the registry under HKEY_CURRENT_USER\SOFTWARE\DartfluxFull; elsewhere in the INI file
// "DartfluxFull.ini" in the user's config folder (QStandardPaths::GenericConfigLocation, usually
// ~/.config). Each value is read on its own: a damaged line elsewhere in the file never hides a
// value that is there. A missing or non-text value reads as "".
std::string ReadSetting(int index);

// The same, but none when the store itself cannot be read, so that a caller never takes its
// default for the user's value.
std::optional<std::string> TryReadSetting(int index);

// Stores the value; every other value the file holds stays. Failures are silent.
void WriteSetting(int index, const std::string& text);

// The same for a value by its name.
std::string ReadSetting(const std::string& name);
// A named value that is a count (a whole number of 0 or more); 0 for anything else.
std::int64_t ReadCountSetting(const std::string& name);
void WriteSetting(const std::string& name, const std::string& text);

// Where the settings live: the INI file's path, or the registry key's path on Windows.
std::string SettingsLocation();
