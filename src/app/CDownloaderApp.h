#pragma once

#include "SingleInstance.h"

#include <QApplication>
#include <QStringList>

#include <memory>

class CDownloaderDlg;
class QSocketNotifier;

// The program: runs the main window for the whole life of the process, then tears it down. One
// instance runs per list file: a second start hands its URLs to the first one, brings its window
// forward and ends.
// SIGTERM, SIGINT and the end of the desktop session close every open dialog as if cancelled,
// then the window the ordinary way, so the list and the folder are saved as on any other exit.
class CDownloaderApp : public QApplication {
    Q_OBJECT

public:
    // The whole program, from the command line to the exit code. The command line and the
    // hand-over to a running instance come first, without a display; Qt's application object
    // never sees what follows "--".
    static int Run(int argc, char** argv);

    CDownloaderApp(int& argc, char** argv);
    ~CDownloaderApp() override;

private:
    // Runs the main window, with the given URLs added and started, and returns the exit code
    // once it has been torn down. A list that is not kept, or URLs that later starts cannot hand
    // over, are said in a message box. Fails, saying so, when a live instance that holds the list
    // does not answer.
    int InitInstance(SingleInstance& instance, ListClaim claim, const QStringList& urls);
    void OnTerminationSignal();
    // Ends every dialog over the main window as cancelled, then the main window.
    void CloseEverything();

    CDownloaderDlg* mainWindow_ = nullptr;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
};
