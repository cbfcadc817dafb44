#pragma once

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
    CDownloaderApp(int& argc, char** argv);
    ~CDownloaderApp() override;

    // Runs the main window, with the given URLs added and started, and returns when it has been
    // torn down. When another instance runs with the same list, hands the URLs to it instead.
    // Always false: there is nothing to run afterwards.
    bool InitInstance(const QStringList& urls = {});

private:
    void OnTerminationSignal();
    // Ends every dialog over the main window as cancelled, then the main window.
    void CloseEverything();

    CDownloaderDlg* mainWindow_ = nullptr;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
};
