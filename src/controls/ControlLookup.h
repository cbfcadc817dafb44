#pragma once

class QWidget;

// Controls keep their numeric dialog id in the dynamic property "controlId", so commands and
// tests can address them by id.
inline constexpr char kControlIdProperty[] = "controlId";

void SetControlId(QWidget* control, int id);

// The id given with SetControlId, or -1 for a widget without one.
int GetControlId(const QWidget* control);

// The first descendant of root with the id. Descendants that are windows of their own (child
// dialogs) are not searched: their ids belong to them, not to root.
QWidget* FindControl(const QWidget* root, int id);
