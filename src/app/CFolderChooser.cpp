#include "CFolderChooser.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

#ifdef Q_OS_WIN
constexpr QChar Separator = '\\';

// "X:\" on Windows.
int RootLength(const QString& path) {
    const bool driveRoot = path.size() >= 3 && path[0].unicode() < 128 && path[0].isLetter() &&
                           path[1] == ':' && path[2] == Separator;
    return driveRoot ? 3 : 0;
}
#else
constexpr QChar Separator = '/';

int RootLength(const QString& path) {
    return path.startsWith(Separator) ? 1 : 0;
}
#endif

bool IsFolder(const QString& path) {
    return QFileInfo(path).isDir();
}

// Tried for real: permissions alone say nothing for a read-only mount, or for root.
bool TakesFiles(const QString& folder) {
    QTemporaryFile probe(folder + QStringLiteral("/.dartflux-probe-XXXXXX"));
    return probe.open();
}

constexpr char CreateQuestion[] =
    "The folder:\n\n%1\n\ndoes not exist. Do you want the folder to be created?";
constexpr char InvalidMessage[] = "The folder:\n\n%1\n\nis invalid. Please reenter.";
constexpr char NotCreatedMessage[] =
    "The folder:\n\n%1\n\ncan not be created. Please double check.";
constexpr char NotWritableMessage[] =
    "The folder:\n\n%1\n\ncan not be written to. Please double check.";

QString FolderMessage(const char* format, const QString& path) {
    return QString::fromLatin1(format).arg(path);
}

} // namespace

CFolderChooser::CFolderChooser(const QString& title, const QString& prompt,
                               const QString& initialFolder, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    resize(420, 460);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(prompt, this));

    pathField_ = new QLineEdit(this);
    pathField_->setProperty("controlId", static_cast<int>(PathFieldId));
    layout->addWidget(pathField_);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QDir::rootPath());
    tree_ = new QTreeView(this);
    tree_->setProperty("controlId", static_cast<int>(FolderTreeId));
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }
    tree_->header()->hide();
    layout->addWidget(tree_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    okButton_ = buttons->button(QDialogButtonBox::Ok);
    okButton_->setProperty("controlId", static_cast<int>(OkId));
    buttons->button(QDialogButtonBox::Cancel)->setProperty("controlId", static_cast<int>(CancelId));
    layout->addWidget(buttons);

    connect(pathField_, &QLineEdit::textChanged, this, &CFolderChooser::OnPathChange);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CFolderChooser::OnTreeSelection);
    connect(okButton_, &QPushButton::clicked, this, &CFolderChooser::OnBrowseOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    OnPathChange(QString());
    const QString start = initialFolder.isEmpty() ? QDir::currentPath() : initialFolder;
    const QModelIndex index = model_->index(start);
    if (index.isValid()) {
        tree_->setCurrentIndex(index);
        tree_->scrollTo(index);
    } else {
        pathField_->setText(start);
    }
    pathField_->setFocus();
}

int CFolderChooser::DoModal() {
    accepted_ = false;
    exec();
    return accepted_ ? 1 : -1;
}

void CFolderChooser::OnTreeSelection() {
    pathField_->setText(QDir::toNativeSeparators(model_->filePath(tree_->currentIndex())));
}

void CFolderChooser::OnPathChange(const QString& text) {
    path_ = text.left(MaxPathLength);
    okButton_->setEnabled(!text.isEmpty());
}

void CFolderChooser::OnBrowseOK() {
    path_ = pathField_->text().left(MaxPathLength);
    if (ConfirmFolder(path_) != 0) {
        pathField_->setFocus();
        return;
    }
    accepted_ = true;
    accept();
}

int CFolderChooser::ConfirmFolder(const QString& path) {
    const QString caption = QCoreApplication::applicationName();
    int result = CheckOrCreateFolder(path, true);
    if (result == FolderValid && !IsFolder(path)) {
        if (QFileInfo::exists(path)) {
            result = FolderNotCreated; // a file of that name is in the way
        } else {
            const auto answer =
                QMessageBox::question(this, caption, FolderMessage(CreateQuestion, path),
                                      QMessageBox::Yes | QMessageBox::No);
            if (answer != QMessageBox::Yes) {
                return -1;
            }
            result = CheckOrCreateFolder(path, false);
        }
    }
    if (result == FolderValid && !TakesFiles(path)) {
        result = FolderNotWritable;
    }
    if (result == FolderValid) {
        return 0;
    }
    const char* format = result == FolderInvalid       ? InvalidMessage
                         : result == FolderNotWritable ? NotWritableMessage
                                                       : NotCreatedMessage;
    QMessageBox::warning(this, caption, FolderMessage(format, path));
    return result;
}

int CFolderChooser::CheckOrCreateFolder(const QString& path, bool checkOnly) {
    const int rootLength = RootLength(path);
    if (rootLength == 0) {
        return FolderInvalid;
    }
    if (path.size() == rootLength) {
        return checkOnly || IsFolder(path) ? FolderValid : FolderNotCreated;
    }
    int start = rootLength;
    while (true) {
        const int separator = path.indexOf(Separator, start);
        const bool last = separator < 0;
        const QString upToHere = last ? path : path.left(separator);
        if (!IsValidFolderName(upToHere.mid(start))) {
            return FolderInvalid;
        }
        if (!checkOnly) {
            QDir().mkdir(upToHere);
            if (!IsFolder(upToHere)) {
                return FolderNotCreated;
            }
        }
        if (last) {
            return FolderValid;
        }
        start = separator + 1;
        if (start == path.size()) {
            return FolderInvalid; // a separator at the end of a path below the root
        }
    }
}

bool CFolderChooser::IsValidFolderName(const QString& name) {
    static const QString EdgeCharacters = QStringLiteral("\t .");
    static const QString ForbiddenCharacters = QStringLiteral("\"*/:<>?\\|");
    if (name.isEmpty() || EdgeCharacters.contains(name.front()) ||
        EdgeCharacters.contains(name.back())) {
        return false;
    }
    for (const QChar character : name) {
        if (ForbiddenCharacters.contains(character)) {
            return false;
        }
    }
    return true;
}
