#include "ControlLookup.h"

#include <QObject>
#include <QVariant>
#include <QWidget>

void SetControlId(QWidget* control, int id) {
    control->setProperty(kControlIdProperty, id);
}

int GetControlId(const QWidget* control) {
    bool isNumber = false;
    const int id = control->property(kControlIdProperty).toInt(&isNumber);
    return isNumber ? id : -1;
}

QWidget* FindControl(const QWidget* root, int id) {
    for (QObject* child : root->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget == nullptr || widget->isWindow()) {
            continue;
        }
        if (GetControlId(widget) == id) {
            return widget;
        }
        if (QWidget* found = FindControl(widget, id)) {
            return found;
        }
    }
    return nullptr;
}
