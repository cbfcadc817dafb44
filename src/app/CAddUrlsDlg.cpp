#include "CAddUrlsDlg.h"

#include "CBitmapButton.h"
#include "CProgressListCtrl.h"
#include "ControlLookup.h"
#include "DialogTemplate.h"
#include "ResourceImages.h"
#include "UrlLines.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPlainTextEdit>

namespace {

const DialogTemplate& AddUrlsTemplate() {
    using Kind = DialogControl::Kind;
    static const DialogTemplate dialog(
        227, 126,
        {
            {-1, Kind::Label, 5, 5, 180, 10, "Add your url's to this field:"},
            {CAddUrlsDlg::UrlFieldId, Kind::MultiLineEdit, 5, 15, 215, 85, ""},
            {CAddUrlsDlg::PasteId, Kind::Button, 5, 105, 60, 15, "Paste"},
            {CAddUrlsDlg::OkId, Kind::Button, 95, 105, 60, 15, "OK"},
            {CAddUrlsDlg::CancelId, Kind::Button, 160, 105, 60, 15, "Cancel"},
        });
    return dialog;
}

} // namespace

CAddUrlsDlg::CAddUrlsDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Add URL's");
    setWindowIcon(LoadIconResource(141));
    AddUrlsTemplate().Build(*this);
    urlField_ = static_cast<QPlainTextEdit*>(FindControl(this, UrlFieldId));
    urlField_->setTabChangesFocus(true); // a URL holds no tab; Tab moves on to the buttons
    const auto button = [this](int id) {
        return static_cast<CBitmapButton*>(FindControl(this, id));
    };
    button(CancelId)->LoadBitmaps(143, 144, 142);
    button(OkId)->LoadBitmaps(146, 147, 145);
    button(PasteId)->LoadBitmaps(149, 150, 148);
    connect(button(PasteId), &QAbstractButton::clicked, this, &CAddUrlsDlg::OnPaste);
    connect(button(OkId), &QAbstractButton::clicked, this, &CAddUrlsDlg::accept);
    connect(button(CancelId), &QAbstractButton::clicked, this, &CAddUrlsDlg::reject);
    // URLs copied just before are what the user most likely wants to add.
    // The same lines a paste into the list takes.
    const std::string copied = SchemeUrlText(
        CProgressListCtrl::OfferedText(QApplication::clipboard()->mimeData()).toStdString());
    if (!copied.empty()) {
        urlField_->setPlainText(QString::fromStdString(copied));
        urlField_->selectAll();
    }
    urlField_->setFocus();
}

void CAddUrlsDlg::accept() {
    urlText_ = urlField_->toPlainText();
    urlText_.replace('\n', "\r\n");
    QDialog::accept();
}

void CAddUrlsDlg::keyPressEvent(QKeyEvent* event) {
    // OK is the default button; the field keeps Enter for its line breaks.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CAddUrlsDlg::OnPaste() {
    urlField_->paste();
}
