#pragma once

#include <QString>
#include <QTreeView>

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;
class QMimeData;
class QWidget;

// The download list: a flat report list with full-row, multiple selection and a header that
// neither sorts nor reacts to clicks. Rows are coloured and the progress column carries a
// bar, all read from the model's roles (see CProgressListDelegate). Links or text dropped on it
// or pasted into it (Ctrl+V, Shift+Insert) are offered as text, one link per line.
class CProgressListCtrl : public QTreeView {
    Q_OBJECT

public:
    explicit CProgressListCtrl(QWidget* parent = nullptr);

    // The links of data, one per line, else its text.
    static QString OfferedText(const QMimeData* data);

signals:
    void textOffered(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Releases of Insert and Delete stop here; they must not reach the window.
    void keyReleaseEvent(QKeyEvent* event) override;
};
