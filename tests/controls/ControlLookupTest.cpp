#include "ControlLookup.h"

#include <QDialog>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

TEST(ControlLookup, FindsDescendantsByIdButNotInsideChildWindows) {
    QDialog window;
    auto* panel = new QWidget(&window);
    auto* browse = new QPushButton("Browse...", panel);
    SetControlId(browse, 1001);
    auto* childDialog = new QDialog(&window);
    auto* paste = new QPushButton("Paste", childDialog);
    SetControlId(paste, 1001);
    SetControlId(childDialog, 136);

    EXPECT_EQ(FindControl(&window, 1001), browse);
    EXPECT_EQ(FindControl(childDialog, 1001), paste);
    EXPECT_EQ(FindControl(&window, 136), nullptr);
    EXPECT_EQ(FindControl(browse, 1001), nullptr) << "the root is not its own descendant";
    EXPECT_EQ(browse->property("controlId").toInt(), 1001);
    EXPECT_EQ(GetControlId(panel), -1);
}
