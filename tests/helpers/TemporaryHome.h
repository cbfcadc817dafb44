#pragma once

#include <QString>
#include <QTemporaryDir>

// A fresh temporary folder made this process's home, settings, data, cache and runtime folders, so
// that a test or benchmark never reads or writes the real user's settings, Documents or list
// file. Programs it starts inherit the same folders. Make it before the application object, which
// reads these folders once.
class TemporaryHome {
public:
    TemporaryHome();

    bool IsValid() const { return folder_.isValid(); }
    QString Path() const { return folder_.path(); }
    QString FilePath(const QString& name) const { return folder_.filePath(name); }

private:
    QTemporaryDir folder_;
};
