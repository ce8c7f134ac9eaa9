#include "reports/Members.h"

#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "widgets/WindowLayout.h"
#include "platform/Dialogs.h"
#include "widgets/DialogParts.h"
#include "reports/ReportLogic.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

// ---- TRepInc ---------------------------------------------------------------

TRepInc::TRepInc(const QString &include, const QString &caption, QWidget *parent) : QDialog(parent) {
    setWindowTitle(caption);
    // The stored list ends with a comma; markingText drops empty items.
    m_marking = reports::markingText(include);
    TreeView1 = new QTreeWidget(this);
    winutil::setupTree(TreeView1);
    TreeView1->installEventFilter(this);
    QHBoxLayout *buttons = dlgparts::okCancelRow(this, BitBtn1, BitBtn2);
    auto *l = new QVBoxLayout(this);
    l->addWidget(TreeView1, 1);
    l->addLayout(buttons);
    winutil::fitToScreen(this, QSize(460, 560));
    connect(TreeView1, &QTreeWidget::itemDoubleClicked, this, [this] { TreeView1DblClick(); });
}

void TRepInc::ShowTrees() {
    TreeView1->clear();
    // Every top-level unit: institutions under a second top-level territory
    // would otherwise be dropped from the list on OK.
    FillAdminTree(TreeView1, 0);
    for (QTreeWidgetItem *node : TreeNodesInOrder(TreeView1))
        if (reports::markingHas(m_marking, TreeNodeId(node))) CheckTreeBranch(node);
    if (TreeView1->topLevelItemCount() > 0) {
        TreeView1->topLevelItem(0)->setExpanded(true);
        TreeView1->setCurrentItem(TreeView1->topLevelItem(0));
    }
}

QList<qint64> TRepInc::memberList() const {
    QList<qint64> out;
    for (QTreeWidgetItem *node : TreeNodesInOrder(TreeView1))
        if (node->childCount() == 0 && IsTreeNodeBold(node)) out.append(TreeNodeId(node));
    return out;
}

void TRepInc::TreeView1DblClick() {
    QTreeWidgetItem *node = TreeView1->currentItem();
    if (!node) return;
    if (IsTreeNodeBold(node)) UncheckTreeBranch(node);
    else CheckTreeBranch(node);
    TreeView1->viewport()->update();
}

bool TRepInc::eventFilter(QObject *watched, QEvent *event) {
    const QKeyEvent *k = dlgparts::keyPressOn(watched, TreeView1, event);
    if (k && k->key() == Qt::Key_Space) {
        TreeView1DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TRepInc::keyPressEvent(QKeyEvent *event) {
    if (dlgparts::rejectOnEscape(this, event)) return;
    QDialog::keyPressEvent(event);
}

// ---- TRepCont --------------------------------------------------------------

TRepCont::TRepCont(qint64 reportId, const QString &reportName, QWidget *parent) : QDialog(parent), m_id(reportId) {
    setWindowTitle(QStringLiteral("Состав разрезов"));
    Label1 = new QLabel(reportName, this);
    Label1->setAlignment(Qt::AlignHCenter);
    Label1->setWordWrap(true);
    QFont f = Label1->font();
    f.setBold(true);
    Label1->setFont(f);
    CheckListBox1 = new QListWidget(this);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    auto *l = new QVBoxLayout(this);
    l->addWidget(Label1);
    l->addWidget(CheckListBox1, 1);
    l->addLayout(buttons);
    winutil::fitToScreen(this, QSize(420, 460));
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

void TRepCont::FormShow() {
    const QString marking = reports::markingText(reports::compositeMemberList(m_id));
    CheckListBox1->clear();
    for (const reports::ReportRow &r : reports::listReports(false)) {
        if (r.id == m_id) continue;
        auto *item = new QListWidgetItem(r.name, CheckListBox1);
        item->setData(Qt::UserRole, r.id);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(reports::markingHas(marking, r.id) ? Qt::Checked : Qt::Unchecked);
    }
}

QList<qint64> TRepCont::checkedReports() const {
    QList<qint64> out;
    for (int i = 0; i < CheckListBox1->count(); ++i)
        if (CheckListBox1->item(i)->checkState() == Qt::Checked)
            out.append(CheckListBox1->item(i)->data(Qt::UserRole).toLongLong());
    return out;
}

void TRepCont::keyPressEvent(QKeyEvent *event) {
    if (dlgparts::rejectOnEscape(this, event)) return;
    QDialog::keyPressEvent(event);
}

// ---- Commands --------------------------------------------------------------

bool editReportIncludes(QWidget *parent, qint64 reportId, const QString &reportName) {
    TRepInc w(reports::storedInclude(reportId), reportName, parent);
    w.ShowTrees();
    if (execModal(&w) != QDialog::Accepted) return false;
    reports::setReportInclude(reportId, w.memberList());
    return true;
}

bool editReportComposition(QWidget *parent, qint64 reportId, const QString &reportName) {
    TRepCont w(reportId, reportName, parent);
    w.FormShow();
    if (execModal(&w) != QDialog::Accepted) return false;
    reports::setComposition(reportId, w.checkedReports());
    return true;
}
