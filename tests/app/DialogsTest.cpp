#include "CAboutDlg.h"
#include "CAddUrlsDlg.h"
#include "CFolderChooser.h"
#include "ControlLookup.h"
#include "ModalAnswerer.h"
#include "QStringPrinter.h"
#include "SmallFileSystem.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/mount.h>

namespace {

template <typename Widget> Widget* Control(const QWidget& root, int id) {
    auto* widget = qobject_cast<Widget*>(FindControl(&root, id));
    EXPECT_NE(widget, nullptr) << "no control " << id;
    return widget;
}

TEST(AddUrlsDialogTest, CollectsTypedAndPastedLinesWithCrLf) {
    CAddUrlsDlg dialog;
    dialog.show();
    auto* field = Control<QPlainTextEdit>(dialog, CAddUrlsDlg::UrlFieldId);
    field->setFocus();
    QTest::keyClicks(field, "http://a/1");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible()) << "Enter in the field must not confirm";
    QApplication::clipboard()->setText("x");
    Control<QAbstractButton>(dialog, CAddUrlsDlg::PasteId)->click();
    Control<QAbstractButton>(dialog, CAddUrlsDlg::PasteId)->click();
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClicks(field, " spaced ");

    Control<QAbstractButton>(dialog, CAddUrlsDlg::OkId)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.UrlText(), "http://a/1\r\nxx\r\n spaced ");
    EXPECT_EQ(dialog.windowTitle(), "Add URL's");
}

TEST(AddUrlsDialogTest, EnterOutsideTheFieldPressesOk) {
    CAddUrlsDlg dialog;
    dialog.show();
    QTest::keyClicks(Control<QPlainTextEdit>(dialog, CAddUrlsDlg::UrlFieldId), "http://a/1");
    auto* paste = Control<QAbstractButton>(dialog, CAddUrlsDlg::PasteId);
    paste->setFocus();
    QTest::keyClick(paste, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.UrlText(), "http://a/1");
}

TEST(AddUrlsDialogTest, PasteReplacesTheSelectionAndCancelKeepsNothing) {
    CAddUrlsDlg dialog;
    dialog.show();
    auto* field = Control<QPlainTextEdit>(dialog, CAddUrlsDlg::UrlFieldId);
    QTest::keyClicks(field, "old text");
    field->selectAll();
    QApplication::clipboard()->setText("new");
    Control<QAbstractButton>(dialog, CAddUrlsDlg::PasteId)->click();
    EXPECT_EQ(field->toPlainText(), "new");

    Control<QAbstractButton>(dialog, CAddUrlsDlg::CancelId)->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.UrlText().isEmpty());
}

TEST(AboutDialogTest, ShowsTheVersionAndClosesWithOkOrEscape) {
    CAboutDlg about;
    about.show();
    EXPECT_EQ(about.windowTitle(), "About Dartflux");
    EXPECT_EQ(Control<QLabel>(about, CAboutDlg::VersionTextId)->text(), "Dartflux v.0.2");
    Control<QAbstractButton>(about, CAboutDlg::OkId)->click();
    EXPECT_EQ(about.result(), QDialog::Accepted);

    CAboutDlg again;
    again.show();
    QTest::keyClick(&again, Qt::Key_Escape);
    EXPECT_FALSE(again.isVisible());
}

TEST(FolderRulesTest, SyntaxOfPathsAndNames) {
    struct Case {
        QString path;
        int expected;
    };
    const std::vector<Case> cases = {
        {"/", CFolderChooser::FolderValid},
        {"/home/user/Download", CFolderChooser::FolderValid},
        {"/home/ünïcode dir/x", CFolderChooser::FolderValid},
        {"", CFolderChooser::FolderInvalid},
        {"relative/dir", CFolderChooser::FolderInvalid},
        {"C:\\Windows", CFolderChooser::FolderInvalid},
        {"/home/user/", CFolderChooser::FolderInvalid},
        {"/home//user", CFolderChooser::FolderInvalid},
        {"/home/ user", CFolderChooser::FolderInvalid},
        {"/home/user ", CFolderChooser::FolderInvalid},
        {"/home/.hidden", CFolderChooser::FolderInvalid},
        {"/home/dots.", CFolderChooser::FolderInvalid},
        {"/home/a:b", CFolderChooser::FolderInvalid},
        {"/home/what?", CFolderChooser::FolderInvalid},
        {"/home/back\\slash", CFolderChooser::FolderInvalid},
        {"/home/star*", CFolderChooser::FolderInvalid},
        {"/home/\"quoted\"", CFolderChooser::FolderInvalid},
        {"/home/pipe|", CFolderChooser::FolderInvalid},
        {"/home/<angle>", CFolderChooser::FolderInvalid},
    };
    for (const Case& check : cases) {
        EXPECT_EQ(CFolderChooser::CheckOrCreateFolder(check.path, true), check.expected)
            << check.path.toStdString();
    }
    EXPECT_TRUE(CFolderChooser::IsValidFolderName("a.b c"));
    EXPECT_FALSE(CFolderChooser::IsValidFolderName("\ttab"));
}

TEST(FolderRulesTest, CreatesLevelByLevelAndRefusesWhatCannotBeAFolder) {
    QTemporaryDir root;
    const QString deep = root.path() + "/one/two/three";
    EXPECT_EQ(CFolderChooser::CheckOrCreateFolder(deep, false), CFolderChooser::FolderValid);
    EXPECT_TRUE(QDir(deep).exists());

    QFile file(root.path() + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(CFolderChooser::CheckOrCreateFolder(root.path() + "/plain/below", false),
              CFolderChooser::FolderNotCreated);
    EXPECT_EQ(CFolderChooser::CheckOrCreateFolder(root.path() + "/plain", false),
              CFolderChooser::FolderNotCreated);
}

class FolderChooserTest : public ::testing::Test {
protected:
    // Types text into the chooser's path field and presses its OK button.
    static std::function<void(QDialog&)> TypeAndConfirm(const QString& text) {
        return [text](QDialog& chooser) {
            auto* field = Control<QLineEdit>(chooser, CFolderChooser::PathFieldId);
            field->setText(text);
            Control<QAbstractButton>(chooser, CFolderChooser::OkId)->click();
        };
    }
    static void Cancel(QDialog& chooser) {
        Control<QAbstractButton>(chooser, CFolderChooser::CancelId)->click();
    }

    QTemporaryDir root;
};

TEST_F(FolderChooserTest, InvalidPathKeepsTheChooserOpenUntilCancelled) {
    CFolderChooser chooser("Select path", "Select download path", root.path());
    ModalAnswerer answerer;
    answerer.Then(TypeAndConfirm("not/absolute"));
    answerer.ThenPress(QMessageBox::Ok);
    answerer.Then([](QDialog& again) {
        EXPECT_EQ(again.focusWidget(), FindControl(&again, CFolderChooser::PathFieldId));
        Cancel(again);
    });
    EXPECT_EQ(chooser.DoModal(), -1);
    EXPECT_EQ(answerer.Texts(),
              QStringList{"The folder:\n\nnot/absolute\n\nis invalid. Please reenter."});
    EXPECT_EQ(chooser.windowTitle(), "Select path");
}

TEST_F(FolderChooserTest, MissingFoldersAreCreatedOnlyAfterYes) {
    const QString wanted = root.path() + "/new/level";
    CFolderChooser chooser("Select path", "Select download path", root.path());
    ModalAnswerer answerer;
    answerer.Then(TypeAndConfirm(wanted));
    answerer.ThenPress(QMessageBox::No);
    answerer.Then([](QDialog& again) {
        EXPECT_FALSE(QDir(QDir::tempPath()).exists("never"));
        Control<QAbstractButton>(again, CFolderChooser::OkId)->click();
    });
    answerer.ThenPress(QMessageBox::Yes);
    EXPECT_EQ(chooser.DoModal(), 1);
    EXPECT_EQ(chooser.GetPath(), wanted);
    EXPECT_TRUE(QDir(wanted).exists());
    const QString question =
        "The folder:\n\n" + wanted + "\n\ndoes not exist. Do you want the folder to be created?";
    EXPECT_EQ(answerer.Texts(), (QStringList{question, question}));
}

TEST_F(FolderChooserTest, AFileInTheWayOrAFolderThatTakesNoFilesIsRefused) {
    QFile file(root.path() + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    SmallFileSystem readOnly("64k");
    if (!readOnly.Mounted() || ::mount(nullptr, readOnly.Path().toLocal8Bit().constData(), nullptr,
                                       MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        GTEST_SKIP() << "cannot mount a read-only tmpfs here";
    }
    CFolderChooser chooser("Select path", "Select download path", root.path());
    ModalAnswerer answerer;
    answerer.Then(TypeAndConfirm(root.path() + "/plain"));
    answerer.ThenPress(QMessageBox::Ok);
    answerer.Then(TypeAndConfirm(readOnly.Path()));
    answerer.ThenPress(QMessageBox::Ok);
    answerer.Then(Cancel);
    EXPECT_EQ(chooser.DoModal(), -1);
    EXPECT_EQ(answerer.Texts(),
              (QStringList{"The folder:\n\n" + root.path() +
                               "/plain\n\ncan not be created. Please double check.",
                           "The folder:\n\n" + readOnly.Path() +
                               "\n\ncan not be written to. Please double check."}));
}

TEST_F(FolderChooserTest, FieldDrivesOkAndLongTextIsCut) {
    CFolderChooser chooser("Select path", "Select download path", root.path());
    chooser.show();
    auto* field = Control<QLineEdit>(chooser, CFolderChooser::PathFieldId);
    auto* ok = Control<QAbstractButton>(chooser, CFolderChooser::OkId);
    EXPECT_EQ(QDir(field->text()), QDir(root.path())) << "the initial folder is selected";
    EXPECT_TRUE(ok->isEnabled());
    field->clear();
    EXPECT_FALSE(ok->isEnabled());

    const QString longPath = root.path() + "/" + QString(300, 'x');
    ModalAnswerer answerer;
    answerer.ThenPress(QMessageBox::No);
    field->setText(longPath);
    ok->click();
    ASSERT_EQ(answerer.Texts().size(), 1);
    EXPECT_TRUE(answerer.Texts()[0].contains(longPath.left(CFolderChooser::MaxPathLength) +
                                             "\n\ndoes not exist"));
    EXPECT_FALSE(answerer.Texts()[0].contains(longPath.left(CFolderChooser::MaxPathLength + 1)));
}

} // namespace
