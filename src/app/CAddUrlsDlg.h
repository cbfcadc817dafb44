#pragma once

#include <QDialog>
#include <QString>

class QKeyEvent;
class QPlainTextEdit;

// Collects one or more URLs, one per line. Splitting them is the caller's business. When the
// clipboard holds URLs and nothing else, the field starts with them, selected.
class CAddUrlsDlg : public QDialog {
    Q_OBJECT

public:
    enum ControlId { UrlFieldId = 1020, PasteId = 1001, OkId = 1, CancelId = 2 };

    explicit CAddUrlsDlg(QWidget* parent = nullptr);

    // The field's whole text after OK, lines separated by CR LF; empty otherwise.
    const QString& UrlText() const { return urlText_; }

public slots:
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnPaste();

    QPlainTextEdit* urlField_ = nullptr;
    QString urlText_;
};
