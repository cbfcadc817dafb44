#include "WindowActions.h"

#include "CAddUrlsDlg.h"
#include "CDownloaderDlg.h"
#include "ControlLookup.h"
#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QDialog>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

QTreeView* List(CDownloaderDlg& window) {
    return qobject_cast<QTreeView*>(FindControl(&window, CDownloaderDlg::ListId));
}

void Click(CDownloaderDlg& window, int id) {
    auto* button = qobject_cast<QAbstractButton*>(FindControl(&window, id));
    ASSERT_NE(button, nullptr) << "no button " << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList Column(CDownloaderDlg& window, int column) {
    QStringList cells;
    for (int row = 0; row < List(window)->model()->rowCount(); ++row) {
        cells.append(List(window)->model()->index(row, column).data().toString());
    }
    return cells;
}

void Select(CDownloaderDlg& window, const std::vector<int>& rows) {
    QTreeView* list = List(window);
    list->clearSelection();
    for (const int row : rows) {
        const QModelIndex cell = list->model()->index(row, 0);
        list->scrollTo(cell);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualRect(cell).center());
    }
}

void AddUrls(CDownloaderDlg& window, const QStringList& lines) {
    ModalAnswerer answerer;
    answerer.Then([&](QDialog& dialog) {
        auto* field = qobject_cast<QPlainTextEdit*>(FindControl(&dialog, CAddUrlsDlg::UrlFieldId));
        for (int i = 0; i < lines.size(); ++i) {
            QTest::keyClicks(field, lines[i]);
            if (i + 1 < lines.size()) {
                QTest::keyClick(field, Qt::Key_Return);
            }
        }
        QTest::mouseClick(qobject_cast<QAbstractButton*>(FindControl(&dialog, CAddUrlsDlg::OkId)),
                          Qt::LeftButton);
    });
    Click(window, CDownloaderDlg::AddUrlId);
    EXPECT_EQ(answerer.Pending(), 0);
}
