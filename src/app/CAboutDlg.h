#pragma once

#include <QDialog>

// Shows the program's name and version.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    enum ControlId { VersionTextId = 1022, OkId = 1 };

    explicit CAboutDlg(QWidget* parent = nullptr);
};
