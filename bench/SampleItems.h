#pragma once

#include "DownloadItem.h"
#include "ListFile.h"

// count items in the given state with realistic URLs, names, temporary paths, sizes and
// percentages (about 164 bytes per list file record).
DownloadItems MakeSampleItems(int count, DownloadState state);
