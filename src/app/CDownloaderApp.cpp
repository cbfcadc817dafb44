#include "CDownloaderApp.h"

#include "CDownloaderDlg.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "NewVersionBridge.h"
#include "ResourceImages.h"
#include "SingleInstance.h"

#include <QDialog>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Written to by the signal handler, read on the user interface thread.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = write(signalPipe[0], &byte, 1);
}

} // namespace

CDownloaderApp::CDownloaderApp(int& argc, char** argv) : QApplication(argc, argv) {
    setWindowIcon(LoadIconResource(140));
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        signalNotifier_ = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
        connect(signalNotifier_.get(), &QSocketNotifier::activated, this,
                &CDownloaderApp::OnTerminationSignal);
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
    }
    connect(this, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        if (mainWindow_ != nullptr) {
            mainWindow_->SaveState();
        }
        CloseEverything();
    });
}

CDownloaderApp::~CDownloaderApp() {
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
}

bool CDownloaderApp::InitInstance(const QStringList& urls) {
    SingleInstance instance(QString::fromStdString(ListFilePath()));
    if (!instance.Acquire()) {
        if (!instance.HandOver(urls.join('\n').toUtf8())) {
            QTextStream(stderr) << "Dartflux already runs with this list, but does not answer.\n";
        }
        return false;
    }
    CDownloaderDlg window;
    // Destroyed before the window: its teardown never waits for a question to be answered.
    const NewVersionBridge newVersions(window.Queue());
    connect(&instance, &SingleInstance::messageReceived, &window,
            [&window](const QByteArray& message) {
                window.AddAndStart(message.toStdString());
                window.showNormal();
                window.raise();
                window.activateWindow();
            });
    window.AddAndStart(urls.join('\n').toStdString());
    mainWindow_ = &window;
    window.exec();
    mainWindow_ = nullptr;
    return false;
}

void CDownloaderApp::OnTerminationSignal() {
    char byte = 0;
    [[maybe_unused]] const auto read = ::read(signalPipe[1], &byte, 1);
    CloseEverything();
}

void CDownloaderApp::CloseEverything() {
    // Each dialog's own loop returns as cancelled; the main window's loop ends after them.
    for (QWidget* window : topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog != nullptr && dialog != mainWindow_ && dialog->isVisible()) {
            dialog->reject();
        }
    }
    if (mainWindow_ != nullptr) {
        mainWindow_->reject();
    } else {
        quit();
    }
}
