#include "SampleItems.h"

#include <memory>
#include <string>

DownloadItems MakeSampleItems(int count, DownloadState state) {
    DownloadItems items;
    items.reserve(count);
    for (int n = 0; n < count; ++n) {
        auto item = std::make_unique<DownloadItem>();
        const std::string number = std::to_string(n);
        item->url = "http://downloads.example.org/releases/2024/package-" + number + ".tar.gz";
        item->fileName = "package-" + number + ".tar.gz";
        item->tempPath = "/home/user/Documents/Download/" + number + "a7f3c9e1b2.tmp";
        item->percent = n % 101;
        item->totalSize = 1000000LL + n * 7919LL;
        item->state = state;
        items.push_back(std::move(item));
    }
    return items;
}
