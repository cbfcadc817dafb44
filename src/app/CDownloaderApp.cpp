#include "CDownloaderApp.h"

#include "CDownloaderDlg.h"
#include "CommandLine.h"
#include "DownloadQueue.h"
#include "ListFile.h"
#include "NewVersionBridge.h"
#include "ResourceImages.h"
#include "SingleInstance.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

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

const QString MessageCaption = QStringLiteral("Dartflux");
const QString NotAnswering =
    QStringLiteral("Dartflux already runs with this list, but does not answer.");

} // namespace

int CDownloaderApp::Run(int argc, char** argv) {
    QStringList urls;
    std::unique_ptr<SingleInstance> instance;
    ListClaim claim = ListClaim::Unanswered;
    {
        const QCoreApplication application(argc, argv);
        urls = UrlsFromCommandLine(application);
        instance = std::make_unique<SingleInstance>(QString::fromStdString(ListFilePath()));
        claim = instance->Claim(urls.join('\n').toUtf8());
    }
    if (claim == ListClaim::HandedOver) {
        return 0;
    }
    if (claim == ListClaim::Unanswered) {
        // Also where no window can tell it.
        QTextStream(stderr) << NotAnswering << '\n';
    }
    int qtArgumentCount = QtArgumentCount(argc, argv);
    CDownloaderApp application(qtArgumentCount, argv);
    return application.InitInstance(*instance, claim, urls);
}

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

int CDownloaderApp::InitInstance(SingleInstance& instance, ListClaim claim,
                                 const QStringList& urls) {
    if (claim == ListClaim::Unanswered) {
        QMessageBox::critical(nullptr, MessageCaption, NotAnswering);
        return 1;
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
    QString notice;
    if (claim == ListClaim::Unwritable) {
        const QString folder = QFileInfo(QString::fromStdString(ListFilePath())).absolutePath();
        notice = QStringLiteral("The folder of the download list:\n\n%1\n\ncan not be written "
                                "to. The list will not be kept.")
                     .arg(QDir::toNativeSeparators(folder));
    } else if (const QString error = instance.Listen(); !error.isEmpty()) {
        notice = QStringLiteral("URLs given to a later start of Dartflux can not reach this "
                                "window: %1.")
                     .arg(error);
    }
    if (!notice.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, notice] {
            QMessageBox::warning(&window, MessageCaption, notice);
        });
    }
    window.AddAndStart(urls.join('\n').toStdString());
    mainWindow_ = &window;
    window.exec();
    mainWindow_ = nullptr;
    return 0;
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
