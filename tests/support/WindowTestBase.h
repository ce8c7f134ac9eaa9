#pragma once
// Fixtures for tests over the sample configuration: the caches loaded from it, the shared work state reset before and
// after each test, and every dialog answered by the fake dialog seam.
#include "engine/SharedState.h"
#include "support/TestWork.h"
#include "core/TreeMarking.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include <QString>
#include <QTreeWidget>
#include <gtest/gtest.h>

struct SampleTest : ::testing::Test {
    SampleFixture fx;
    FakeDialogs dialogs;
    void SetUp() override {
        fx.reloadCaches();
        testWork() = WorkContext{};
    }
    void TearDown() override { testWork() = WorkContext{}; }
};

// Input of an institution's values: ReportMode "Input" on the "Data" table.
struct InputWindowTest : SampleTest {
    void SetUp() override {
        SampleTest::SetUp();
        testWork().mode = ReportMode::Input;
        testWork().table = ValueTable::Data;
    }
};

// The first node of a tree (in display order) with this id, or null.
inline QTreeWidgetItem *treeNodeWithId(QTreeWidget *tree, qint64 id) {
    for (QTreeWidgetItem *n : TreeNodesInOrder(tree))
        if (TreeNodeId(n) == id) return n;
    return nullptr;
}

// The first node of a tree (in display order) whose text starts so, or null.
inline QTreeWidgetItem *treeNodeWithText(QTreeWidget *tree, const QString &start) {
    for (QTreeWidgetItem *n : TreeNodesInOrder(tree))
        if (n->text(0).startsWith(start)) return n;
    return nullptr;
}
