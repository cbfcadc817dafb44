#pragma once

#include <Qt>

// Item data roles of the download list model beyond Qt's own. Display, foreground and
// background roles carry the texts and the state colours; PercentRole carries the raw
// percentage (int) on the "Progress" column for painting the bar.
enum DownloadListRole : int {
    PercentRole = Qt::UserRole + 1,
};
