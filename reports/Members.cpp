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
    m_ui.tree = new QTreeWidget(this);
    winutil::setupTree(m_ui.tree);
    m_ui.tree->installEventFilter(this);
    QHBoxLayout *buttons = dlgparts::okCancelRow(this, m_ui.ok, m_ui.cancel);
    auto *l = new QVBoxLayout(this);
    l->addWidget(m_ui.tree, 1);
    l->addLayout(buttons);
    winutil::fitToScreen(this, QSize(460, 560));
    connect(m_ui.tree, &QTreeWidget::itemDoubleClicked, this, [this] { switchBranchMark(); });
}

void TRepInc::ShowTrees() {
    m_ui.tree->clear();
    // Every top-level unit: institutions under a second top-level territory
    // would otherwise be dropped from the list on OK.
    FillAdminTree(m_ui.tree, 0);
    for (QTreeWidgetItem *node : TreeNodesInOrder(m_ui.tree))
        if (reports::markingHas(m_marking, TreeNodeId(node))) CheckTreeBranch(node);
    if (m_ui.tree->topLevelItemCount() > 0) {
        m_ui.tree->topLevelItem(0)->setExpanded(true);
        m_ui.tree->setCurrentItem(m_ui.tree->topLevelItem(0));
    }
}

QList<qint64> TRepInc::memberList() const { return MarkedLeafIds(m_ui.tree); }

void TRepInc::switchBranchMark() {
    QTreeWidgetItem *node = m_ui.tree->currentItem();
    if (!node) return;
    if (IsTreeNodeMarked(node)) UncheckTreeBranch(node);
    else CheckTreeBranch(node);
    m_ui.tree->viewport()->update();
}

bool TRepInc::eventFilter(QObject *watched, QEvent *event) {
    const QKeyEvent *k = dlgparts::keyPressOn(watched, m_ui.tree, event);
    if (k && k->key() == Qt::Key_Space) {
        switchBranchMark();
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
    m_ui.caption = new QLabel(reportName, this);
    m_ui.caption->setAlignment(Qt::AlignHCenter);
    m_ui.caption->setWordWrap(true);
    QFont f = m_ui.caption->font();
    f.setBold(true);
    m_ui.caption->setFont(f);
    m_ui.reports = new QListWidget(this);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.ok->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ui.ok);
    auto *l = new QVBoxLayout(this);
    l->addWidget(m_ui.caption);
    l->addWidget(m_ui.reports, 1);
    l->addLayout(buttons);
    winutil::fitToScreen(this, QSize(420, 460));
    connect(m_ui.ok, &QPushButton::clicked, this, &QDialog::accept);
    FormShow();
}

void TRepCont::FormShow() {
    const QString marking = reports::markingText(reports::compositeMemberList(m_id));
    m_ui.reports->clear();
    for (const reports::ReportRow &r : reports::listReports(false)) {
        if (r.id == m_id) continue;
        auto *item = new QListWidgetItem(r.name, m_ui.reports);
        item->setData(Qt::UserRole, r.id);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(reports::markingHas(marking, r.id) ? Qt::Checked : Qt::Unchecked);
    }
}

QList<qint64> TRepCont::checkedReports() const {
    QList<qint64> out;
    for (int i = 0; i < m_ui.reports->count(); ++i)
        if (m_ui.reports->item(i)->checkState() == Qt::Checked)
            out.append(m_ui.reports->item(i)->data(Qt::UserRole).toLongLong());
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
    if (execModal(&w) != QDialog::Accepted) return false;
    reports::setComposition(reportId, w.checkedReports());
    return true;
}
