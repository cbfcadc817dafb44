#include "DialogTemplate.h"

#include "CBitmapButton.h"
#include "CIconTextButton.h"
#include "CPictureStatic.h"
#include "CProgressListCtrl.h"
#include "CStatusPanel.h"
#include "ControlLookup.h"
#include "DialogUnits.h"
#include "ResourceImages.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

#include <utility>

namespace {

constexpr int SeparatorBitmapId = 166;

QWidget* CreateControl(const DialogControl& control, QDialog& dialog) {
    using Kind = DialogControl::Kind;
    switch (control.kind) {
    case Kind::Button: {
        auto* button = new CBitmapButton(&dialog);
        button->setText(control.text);
        return button;
    }
    case Kind::ToolbarButton: {
        auto* button = new CIconTextButton(&dialog);
        button->setText(control.text);
        return button;
    }
    case Kind::DefaultButton: {
        auto* button = new QPushButton(control.text, &dialog);
        button->setDefault(true);
        return button;
    }
    case Kind::Label:
        return new QLabel(control.text, &dialog);
    case Kind::Separator: {
        auto* separator = new QLabel(&dialog);
        separator->setPixmap(QPixmap::fromImage(LoadBitmapResource(SeparatorBitmapId)));
        return separator;
    }
    case Kind::Icon:
        return new QLabel(&dialog);
    case Kind::ClickArea:
        return new CPictureStatic(&dialog);
    case Kind::Panel:
        return new CStatusPanel(&dialog);
    case Kind::ReadOnlyEdit: {
        auto* edit = new QLineEdit(control.text, &dialog);
        edit->setReadOnly(true);
        return edit;
    }
    case Kind::MultiLineEdit: {
        auto* edit = new QPlainTextEdit(control.text, &dialog);
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        return edit;
    }
    case Kind::List:
        return new CProgressListCtrl(&dialog);
    }
    return nullptr;
}

} // namespace

DialogTemplate::DialogTemplate(int width, int height, std::vector<DialogControl> controls)
    : width_(width), height_(height), controls_(std::move(controls)) {}

std::vector<QWidget*> DialogTemplate::Build(QDialog& dialog, int topOffset) const {
    const DialogUnits units(dialog.font());
    std::vector<QWidget*> created;
    for (const DialogControl& control : controls_) {
        QWidget* widget = CreateControl(control, dialog);
        SetControlId(widget, control.id);
        widget->setGeometry(units.ToPixels(control.x, control.y, control.width, control.height)
                                .translated(0, topOffset));
        if (control.kind == DialogControl::Kind::Icon) {
            static_cast<QLabel*>(widget)->setPixmap(dialog.windowIcon().pixmap(widget->size()));
        }
        created.push_back(widget);
    }
    dialog.setFixedSize(units.ToPixelsX(width_), units.ToPixelsY(height_) + topOffset);
    return created;
}
