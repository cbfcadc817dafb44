#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

// Lets the user pick a folder in a tree or type a path above it. The result is the typed text,
// checked and, after asking, created level by level; the chooser stays open until the path is
// usable or the user cancels.
class CFolderChooser : public QDialog {
    Q_OBJECT

public:
    enum ControlId { FolderTreeId = 14145, PathFieldId = 14148, OkId = 1, CancelId = 2 };
    // The longest path the field passes on.
    static constexpr int MaxPathLength = 259;

    // Results of CheckOrCreateFolder, and a folder that exists but takes no files.
    enum FolderCheck {
        FolderValid = 0,
        FolderInvalid = 1,
        FolderNotCreated = 2,
        FolderNotWritable = 3
    };

    CFolderChooser(const QString& title, const QString& prompt, const QString& initialFolder,
                   QWidget* parent = nullptr);

    // 1 when a path was accepted, -1 otherwise.
    int DoModal();
    const QString& GetPath() const { return path_; }

    // 0 to accept; -1 when the user declined creation, otherwise CheckOrCreateFolder's result or
    // FolderNotWritable. Asks and explains with message boxes.
    int ConfirmFolder(const QString& path);

    // Checks the path's syntax (and, unless checkOnly, creates every missing level).
    static int CheckOrCreateFolder(const QString& path, bool checkOnly);
    static bool IsValidFolderName(const QString& name);

private:
    void OnTreeSelection();
    void OnPathChange(const QString& text);
    void OnBrowseOK();

    QFileSystemModel* model_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLineEdit* pathField_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QString path_;
    bool accepted_ = false;
};
