#include "CAboutDlg.h"

#include "DialogTemplate.h"
#include "ResourceImages.h"

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>

namespace {

const DialogTemplate& AboutTemplate() {
    using Kind = DialogControl::Kind;
    static const DialogTemplate dialog(
        235, 55,
        {
            {-1, Kind::Icon, 11, 17, 20, 20, ""},
            {CAboutDlg::VersionTextId, Kind::Label, 40, 10, 119, 8, "Dartflux v.0.2"},
            {-1, Kind::Label, 40, 25, 119, 8, "Keeps every byte."},
            {CAboutDlg::OkId, Kind::DefaultButton, 178, 7, 50, 14, "OK"},
        });
    return dialog;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Dartflux");
    const std::vector<QWidget*> controls = AboutTemplate().Build(*this);
    auto* icon = static_cast<QLabel*>(controls[0]);
    icon->setPixmap(LoadIconResource(140).pixmap(icon->size()));
    static_cast<QLabel*>(controls[1])->setTextFormat(Qt::PlainText);
    connect(static_cast<QAbstractButton*>(controls[3]), &QAbstractButton::clicked, this,
            &CAboutDlg::accept);
}
