#include "DownloadTask.h"

#include "UrlParts.h"

void SetTaskAddress(DownloadTask& task, const std::string& url) {
    const UrlParts parts = SplitUrl(url);
    task.scheme = parts.scheme;
    task.hostName = parts.hostName;
    task.port = parts.port;
    task.objectPath = parts.path + parts.suffix;
}
