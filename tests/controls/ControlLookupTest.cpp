#include "ControlLookup.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

TEST(ControlLookup, FindsDescendantsByIdButNotInsideChildWindows) {
    QDialog window;
    auto* panel = new QWidget(&window);
    auto* browse = new QPushButton("Browse...", panel);
    auto* label = new QLabel("Save to:", &window);
    SetControlId(browse, 1001);
    SetControlId(label, -1);
    SetControlId(panel, 7);
    auto* childDialog = new QDialog(&window);
    auto* paste = new QPushButton("Paste", childDialog);
    SetControlId(paste, 1001);
    SetControlId(childDialog, 1020);

    EXPECT_EQ(FindControl(&window, 1001), browse);
    EXPECT_EQ(FindControl(&window, 7), panel);
    EXPECT_EQ(FindControl(&window, 1020), nullptr);
    EXPECT_EQ(FindControl(childDialog, 1001), paste);
    EXPECT_EQ(FindControl(&window, 4242), nullptr);
    EXPECT_EQ(FindControl(browse, 1001), nullptr) << "the root itself is not its own descendant";

    EXPECT_EQ(GetControlId(browse), 1001);
    EXPECT_EQ(browse->property("controlId").toInt(), 1001);
    EXPECT_EQ(GetControlId(&window), -1);
}
