#pragma once

#include <QString>

#include <vector>

class QDialog;
class QWidget;

// One control of a dialog template: what it is, where it goes in dialog units, and its text.
struct DialogControl {
    enum class Kind {
        Button,        // owner-drawn push button with a picture
        DefaultButton, // plain push button that Enter presses
        ToolbarButton, // icon above caption
        Label,         // static text
        Separator,     // picture static with the separator bitmap
        Icon,          // picture static with the dialog's icon (set it before building)
        Panel,         // sunken status panel (CStatusPanel)
        ClickArea,     // picture static that reports clicks
        ReadOnlyEdit,  // one-line, read-only
        MultiLineEdit, // several lines, no wrapping
        List,          // the download list
    };

    int id;
    Kind kind;
    int x;
    int y;
    int width;
    int height;
    QString text;
};

// Builds a dialog's controls from its template: each control is created as a child of the
// dialog, keeps its id, and is placed by converting its dialog units with the dialog's font.
// The dialog's client area (below any menu bar at top) is sized to width x height units.
class DialogTemplate {
public:
    DialogTemplate(int width, int height, std::vector<DialogControl> controls);

    // Creates the controls; returns them in template order. topOffset shifts everything down
    // by that many pixels (room for a menu bar).
    std::vector<QWidget*> Build(QDialog& dialog, int topOffset = 0) const;

private:
    int width_;
    int height_;
    std::vector<DialogControl> controls_;
};
