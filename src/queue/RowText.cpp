#include "RowText.h"

#include "UrlParts.h"

#include <cstdio>

const char* ColumnHeader(int column) {
    switch (column) {
    case FileNameColumn:
        return "File name";
    case ProgressColumn:
        return "Progress";
    case SizeColumn:
        return "Size, Kb";
    case StatusColumn:
        return "Status";
    default:
        return "";
    }
}

std::string SizeText(std::int64_t totalSize) {
    const long long kb = totalSize / 1024;
    char text[64];
    if (kb < 1000) {
        std::snprintf(text, sizeof text, "%lld", kb);
    } else if (kb < 1000000) {
        std::snprintf(text, sizeof text, "%lld.%03lld", kb / 1000, kb % 1000);
    } else if (kb < 1000000000) {
        std::snprintf(text, sizeof text, "%lld.%03lld.%03lld", kb / 1000000, kb / 1000 % 1000,
                      kb % 1000);
    } else {
        std::snprintf(text, sizeof text, "%lld.%03lld.%03lld.%03lld", kb / 1000000000,
                      kb / 1000000 % 1000, kb / 1000 % 1000, kb % 1000);
    }
    return text;
}

std::string PercentText(std::int32_t percent) {
    return std::to_string(percent) + '%';
}

std::string ShownFileName(const DownloadItem& item) {
    return item.fileName == item.url ? WithoutPassword(item.url) : item.fileName;
}

std::string RowText(const DownloadItem& item, int column) {
    switch (column) {
    case FileNameColumn:
        return ShownFileName(item);
    case ProgressColumn:
        return PercentText(item.percent);
    case SizeColumn:
        return SizeText(item.totalSize);
    case StatusColumn:
        return StateText(item.state);
    default:
        return {};
    }
}

std::optional<RowColors> StateColors(DownloadState state) {
    switch (state) {
    case DownloadState::Waiting:
        return RowColors{QColor(44, 79, 229), QColor(185, 197, 247)};
    case DownloadState::Progress:
        return RowColors{QColor(38, 138, 22), QColor(183, 216, 178)};
    case DownloadState::Done:
        return RowColors{QColor(180, 180, 180), QColor(230, 230, 230)};
    case DownloadState::Error:
        return RowColors{QColor(202, 40, 76), QColor(238, 184, 196)};
    case DownloadState::Pause:
        return RowColors{QColor(220, 118, 19), QColor(244, 210, 177)};
    default:
        return std::nullopt;
    }
}
