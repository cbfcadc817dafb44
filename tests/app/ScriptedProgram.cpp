// The real program, with a script: it starts as the program does with the arguments given, and
// once its window runs says "ready" on its standard output and then runs the commands given as
// --command=ID (--command=new-version asks the new-version question). Every modal dialog that
// opens over the window is said as "dialog", after the text of a message box as "message: TEXT"
// (line breaks as "\n"). Tests run it as a separate process to kill or terminate it mid-transfer or
// with a dialog open.
#include "CDownloaderApp.h"
#include "CDownloaderDlg.h"
#include "DownloadQueue.h"

#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <span>
#include <string_view>
#include <vector>

namespace {

QStringList commands;

class DialogReporter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* dialog = qobject_cast<QDialog*>(object);
        if (dialog == nullptr || !dialog->isModal() || qobject_cast<CDownloaderDlg*>(dialog) ||
            event->type() != QEvent::Show) {
            return false;
        }
        QTextStream out(stdout);
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            out << "message: " << box->text().replace('\n', "\\n") << Qt::endl;
        }
        out << "dialog" << Qt::endl;
        return false;
    }
};

// Runs as each application object is made; the script needs the one of the window.
void Script() {
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (application == nullptr) {
        return;
    }
    application->installEventFilter(new DialogReporter(application));
    QTimer::singleShot(0, application, [] {
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
}
Q_COREAPP_STARTUP_FUNCTION(Script)

} // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> arguments; // the program's own, without the script
    for (char* argument : std::span(argv, static_cast<std::size_t>(argc))) {
        if (std::string_view(argument).starts_with("--command=")) {
            commands.append(QString::fromLocal8Bit(argument + 10));
        } else {
            arguments.push_back(argument);
        }
    }
    arguments.push_back(nullptr);
    return CDownloaderApp::Run(static_cast<int>(arguments.size()) - 1, arguments.data());
}
