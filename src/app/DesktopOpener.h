#pragma once

#include <QObject>
#include <QString>

// Opens downloaded files and folders with the desktop's programs, and when nothing opens one,
// offers a notice that says why.
class DesktopOpener : public QObject {
    Q_OBJECT

public:
    explicit DesktopOpener(QObject* parent = nullptr);

    // Nothing happens for an empty path.
    void OpenFile(const QString& path);
    void OpenFolder(const QString& path);
    // The file selected in the file manager, else its folder opened; nothing for an empty path.
    void ShowFileInFolder(const QString& path);

signals:
    void openFailed(const QString& notice);

private:
    void TellOpenFailed(const QString& path);
};
