#pragma once

#include "FileHandle.h"

#include <optional>
#include <string>

// One open temporary file of a download.
struct OutputFileRecord {
    std::string folder;    // the target folder, as the caller gave it
    std::string finalPath; // folder + separator + name; empty until a name is set
    std::string tempPath;  // the temporary file inside folder
    FileHandle handle = NoFileHandle;
};

// The process-wide table of open temporary files, keyed by handle and shared by the user
// interface thread and the transfer thread under one lock.
class OutputFileTable;

// Opens the item's temporary file for appending (recreating it when gone), or, when tempPath
// is empty, creates a new uniquely named empty file in folder and stores its path in tempPath.
// The record is registered even when the open fails; the result is then NoFileHandle.
FileHandle OpenOutputFile(const std::string& folder, std::string& tempPath);

// Sets the final name when it is a safe single file name (no separator, no control character,
// not empty, "." or ".."). Returns whether the name was taken.
bool SetOutputFileName(FileHandle handle, const std::string& name);

// Empties the file by creating it anew at the same path; returns the new handle.
FileHandle RecreateOutputFile(FileHandle handle);

// Closes the file and moves it to its final name, or to "name (1).ext", "name (2).ext", ...
// when that is taken; never replaces a file. Returns the file name used, or "" when the data
// stayed under its temporary name.
std::string CompleteOutputFile(FileHandle handle);

// Closes and deletes the file of a registered handle; an unknown handle is left alone.
void DiscardOutputFile(FileHandle handle);

std::optional<OutputFileRecord> FindOutputFile(FileHandle handle);
void RegisterOutputFile(FileHandle handle, const std::string& folder, const std::string& tempPath);
void UnregisterOutputFile(FileHandle handle);
