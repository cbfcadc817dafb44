#pragma once

#include "DownloadItem.h"

#include <QColor>

#include <cstdint>
#include <optional>
#include <string>

// The four columns of the download list.
enum DownloadColumn : int {
    FileNameColumn = 0,
    ProgressColumn = 1,
    SizeColumn = 2,
    StatusColumn = 3,
    DownloadColumnCount = 4,
};

// "File name", "Progress", "Size, Kb", "Status"; "" outside the columns.
const char* ColumnHeader(int column);

// totalSize in kilobytes (divided by 1024, truncated toward zero), grouped by powers of 1000 with
// "." between the groups: 1048576 -> "1.024". Values below 1000 kB, negative ones included, are
// not grouped.
std::string SizeText(std::int64_t totalSize);

// "%d%%".
std::string PercentText(std::int32_t percent);

// The item's name as shown: a name that is still the URL without the URL's password.
std::string ShownFileName(const DownloadItem& item);

// The text of one cell of an item's row; "" outside the columns.
std::string RowText(const DownloadItem& item, int column);

// The colours of a row in a given state; none for states that look like plain list rows
// (Ready, Queue and unknown values).
struct RowColors {
    QColor text;
    QColor background;
};
std::optional<RowColors> StateColors(DownloadState state);
