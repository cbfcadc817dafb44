#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class CDownloaderDlg;
class QTreeView;

// What a user does with the main window, done the way the user does it: controls found by id,
// clicks and typed text.

QTreeView* List(CDownloaderDlg& window);

// Clicks the button with the id (a failure when there is none).
void Click(CDownloaderDlg& window, int id);

// The texts of a column, from the list's model.
QStringList Column(CDownloaderDlg& window, int column);

// Clears the selection, then Ctrl-clicks each row, scrolling it into view first.
void Select(CDownloaderDlg& window, const std::vector<int>& rows);

// Opens Add URL, types the lines into its field, and presses OK.
void AddUrls(CDownloaderDlg& window, const QStringList& lines);
