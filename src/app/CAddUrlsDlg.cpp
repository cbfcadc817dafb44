#include "CAddUrlsDlg.h"

#include "CBitmapButton.h"
#include "DialogTemplate.h"
#include "ResourceImages.h"

#include <QAbstractButton>
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
    const std::vector<QWidget*> controls = AddUrlsTemplate().Build(*this);
    urlField_ = static_cast<QPlainTextEdit*>(controls[1]);
    static_cast<CBitmapButton*>(controls[4])->LoadBitmaps(143, 144, 142);
    static_cast<CBitmapButton*>(controls[3])->LoadBitmaps(146, 147, 145);
    static_cast<CBitmapButton*>(controls[2])->LoadBitmaps(149, 150, 148);
    connect(static_cast<QAbstractButton*>(controls[2]), &QAbstractButton::clicked, this,
            &CAddUrlsDlg::OnPaste);
    connect(static_cast<QAbstractButton*>(controls[3]), &QAbstractButton::clicked, this,
            &CAddUrlsDlg::accept);
    connect(static_cast<QAbstractButton*>(controls[4]), &QAbstractButton::clicked, this,
            &CAddUrlsDlg::reject);
    urlField_->setFocus();
}

void CAddUrlsDlg::accept() {
    urlText_ = urlField_->toPlainText();
    urlText_.replace('\n', "\r\n");
    QDialog::accept();
}

void CAddUrlsDlg::OnPaste() {
    urlField_->paste();
}
