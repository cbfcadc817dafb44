#include "CDownloaderApp.h"

int main(int argc, char* argv[]) {
    return CDownloaderApp::Run(argc, argv);
}
