#include "CDownloaderApp.h"
#include "CommandLine.h"

int main(int argc, char* argv[]) {
    const QStringList urls = UrlsFromCommandLine(argc, argv);
    CDownloaderApp application(argc, argv);
    application.InitInstance(urls);
    return 0;
}
