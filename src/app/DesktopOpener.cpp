#include "DesktopOpener.h"

#include "DesktopFiles.h"
#include "StatusText.h"

#include <QFileInfo>
#include <QStandardPaths>

DesktopOpener::DesktopOpener(QObject* parent) : QObject(parent) {}

void DesktopOpener::OpenFile(const QString& path) {
    if (!path.isEmpty() && !OpenWithDesktop(path)) {
        TellOpenFailed(path);
    }
}

void DesktopOpener::OpenFolder(const QString& path) {
    if (!OpenWithDesktop(path)) {
        TellOpenFailed(path);
    }
}

void DesktopOpener::ShowFileInFolder(const QString& path) {
    if (!path.isEmpty()) {
        ShowInFileManager(path, this, [this, path] { TellOpenFailed(QFileInfo(path).path()); });
    }
}

void DesktopOpener::TellOpenFailed(const QString& path) {
    const bool openerMissing = QStandardPaths::findExecutable("xdg-open").isEmpty();
    emit openFailed(QString::fromStdString(OpenFailureText(path.toStdString(), openerMissing)));
}
