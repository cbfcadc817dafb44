// The real program, with a script: once its window runs, it adds the URLs given as arguments and
// presses Start All. Tests run it as a separate process to kill or terminate it mid-transfer.
#include "CDownloaderApp.h"
#include "CDownloaderDlg.h"
#include "DownloadQueue.h"

#include <QStringList>
#include <QTimer>

int main(int argc, char* argv[]) {
    CDownloaderApp application(argc, argv);
    const QStringList urls = QCoreApplication::arguments().mid(1);
    QTimer::singleShot(0, &application, [urls] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<CDownloaderDlg*>(widget)) {
                window->Queue().AddUrls(urls.join('\n').toStdString());
                window->OnCommand(CDownloaderDlg::StartAllId);
            }
        }
    });
    application.InitInstance();
    return 0;
}
