#pragma once

#include <QTreeView>

class QKeyEvent;
class QWidget;

// The download list: a flat report list with full-row, multiple selection and a header that
// neither sorts nor reacts to clicks. Rows are coloured and the progress column carries a
// bar, all read from the model's roles (see CProgressListDelegate).
class CProgressListCtrl : public QTreeView {
    Q_OBJECT

public:
    explicit CProgressListCtrl(QWidget* parent = nullptr);

protected:
    // Releases of Insert and Delete stop here; they must not reach the window.
    void keyReleaseEvent(QKeyEvent* event) override;
};
