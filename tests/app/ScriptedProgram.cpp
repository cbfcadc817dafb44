// The real program, with a script: it starts as the program does with the URLs given as
// arguments, and once its window runs says "ready" on its standard output and then runs the
// commands given as --command=ID (--command=new-version asks the new-version question). Tests run
// it as a separate process to kill or terminate it mid-transfer or with a dialog open.
#include "CDownloaderApp.h"
#include "CDownloaderDlg.h"
#include "DownloadQueue.h"

#include <QStringList>
#include <QTextStream>
#include <QTimer>

int main(int argc, char* argv[]) {
    CDownloaderApp application(argc, argv);
    QStringList urls;
    QStringList commands;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (argument.startsWith("--command=")) {
            commands.append(argument.mid(10));
        } else {
            urls.append(argument);
        }
    }
    QTimer::singleShot(0, &application, [commands] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<CDownloaderDlg*>(widget);
            if (window == nullptr) {
                continue;
            }
            QTextStream(stdout) << "ready" << Qt::endl;
            for (const QString& command : commands) {
                if (command == "new-version") {
                    window->Queue().OnNewVersion();
                } else {
                    window->OnCommand(command.toInt());
                }
            }
        }
    });
    application.InitInstance(urls);
    return 0;
}
