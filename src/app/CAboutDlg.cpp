#include "CAboutDlg.h"

#include "ControlLookup.h"
#include "DialogTemplate.h"
#include "ProgramVersion.h"
#include "ResourceImages.h"

#include <QAbstractButton>
#include <QLabel>

namespace {

const DialogTemplate& AboutTemplate() {
    using Kind = DialogControl::Kind;
    static const DialogTemplate dialog(
        235, 55,
        {
            {-1, Kind::Icon, 11, 17, 20, 20, ""},
            {CAboutDlg::VersionTextId, Kind::Label, 40, 10, 119, 8,
             QString::fromLatin1(ProgramTitle.data(), ProgramTitle.size())},
            {-1, Kind::Label, 40, 25, 119, 8, "Keeps every byte."},
            {CAboutDlg::OkId, Kind::DefaultButton, 178, 7, 50, 14, "OK"},
        });
    return dialog;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Dartflux");
    setWindowIcon(LoadIconResource(140));
    AboutTemplate().Build(*this);
    static_cast<QLabel*>(FindControl(this, VersionTextId))->setTextFormat(Qt::PlainText);
    connect(static_cast<QAbstractButton*>(FindControl(this, OkId)), &QAbstractButton::clicked, this,
            &CAboutDlg::accept);
}
