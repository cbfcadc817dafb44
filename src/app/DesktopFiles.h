#pragma once

#include <QString>

#include <functional>

class QObject;

// Opening files and folders through the desktop.

// Opens a file or folder with the desktop's program for it; false when none could be started.
bool OpenWithDesktop(const QString& path);

// Shows the file selected in a file manager (org.freedesktop.FileManager1 on the session bus);
// where none answers, opens its folder instead, and calls onFailure when that fails too. context
// owns the wait for the answer.
void ShowInFileManager(const QString& filePath, QObject* context,
                       const std::function<void()>& onFailure);
