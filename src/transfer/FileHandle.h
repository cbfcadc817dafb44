#pragma once

// An open temporary file: a POSIX file descriptor here. It is also the key of the file's record
// in the output file table.
using FileHandle = int;

inline constexpr FileHandle NoFileHandle = -1;
