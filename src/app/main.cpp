#include "CDownloaderApp.h"

int main(int argc, char* argv[]) {
    CDownloaderApp application(argc, argv);
    application.InitInstance();
    return 0;
}
