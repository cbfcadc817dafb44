#pragma once

#include <QApplication>

#include <memory>

class CDownloaderDlg;
class QSocketNotifier;

// The program: runs the main window for the whole life of the process, then tears it down. One
// instance runs per list file: a second start brings the first one's window forward and ends.
// SIGTERM, SIGINT and the end of the desktop session close every open dialog as if cancelled,
// then the window the ordinary way, so the list and the folder are saved as on any other exit.
class CDownloaderApp : public QApplication {
    Q_OBJECT

public:
    CDownloaderApp(int& argc, char** argv);
    ~CDownloaderApp() override;

    // Runs the main window and returns when it has been torn down. Always false: there is
    // nothing to run afterwards.
    bool InitInstance();

private:
    void OnTerminationSignal();
    // Ends every dialog over the main window as cancelled, then the main window.
    void CloseEverything();

    CDownloaderDlg* mainWindow_ = nullptr;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
};
