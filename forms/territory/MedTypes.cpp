#include "forms/territory/MedTypes.h"

#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/tree/FormList.h"
#include "forms/shared/FormListCommon.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"

#include <QApplication>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using winutil::appTitle;
using winutil::guarded;

IndicatorTreeOpener &indicatorTreeOpener() {
    static IndicatorTreeOpener opener;
    return opener;
}

} // namespace

void setIndicatorTreeOpener(const IndicatorTreeOpener &opener) { indicatorTreeOpener() = opener; }

// ---- Type tree with ordering drops ------------------------------------------------

TMTTree::TMTTree(QWidget *parent) : QTreeWidget(parent) {
    winutil::setupTree(this);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
}

void TMTTree::dragMoveEvent(QDragMoveEvent *event) {
    QTreeWidgetItem *target = itemAt(event->position().toPoint());
    if (event->source() == this && medtypes::canDropType(currentItem(), target)) event->acceptProposedAction();
    else event->ignore();
}

void TMTTree::dropEvent(QDropEvent *event) {
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    if (event->source() != this) return;
    medtypes::moveTypeBefore(this, currentItem(), itemAt(event->position().toPoint()));
}

// ---- Types and their forms ----------------------------------------------------------

TMTFs::TMTFs(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("MTFs"));
    setWindowTitle(QStringLiteral("Типы учреждений"));
    winutil::fitToScreen(this, QSize(800, 550));
    Label2 = new QLabel(QStringLiteral("Типы медицинских учреждений"), this);
    Label1 = new QLabel(QStringLiteral("Отчетные формы"), this);
    TreeView1 = new TMTTree(this);
    CheckListBox1 = new QListWidget(this);
    BitBtn1 = new QPushButton(QStringLiteral("Сохранить"), this);
    BitBtn3 = new QPushButton(QStringLiteral("Сохранить порядок"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Выход"), this);
    BitBtn1->hide();
    BitBtn3->hide();

    auto *grid = new QGridLayout(this);
    grid->addWidget(Label2, 0, 0);
    grid->addWidget(Label1, 0, 1);
    grid->addWidget(TreeView1, 1, 0);
    grid->addWidget(CheckListBox1, 1, 1);
    auto *left = new QHBoxLayout;
    left->addStretch();
    left->addWidget(BitBtn3);
    left->addStretch();
    auto *right = new QHBoxLayout;
    right->addWidget(BitBtn1);
    right->addStretch();
    right->addWidget(BitBtn2);
    grid->addLayout(left, 2, 0);
    grid->addLayout(right, 2, 1);

    connect(TreeView1, &QTreeWidget::currentItemChanged, this, &TMTFs::TreeView1Click);
    connect(TreeView1, &QTreeWidget::itemChanged, this, &TMTFs::TreeView1Edited);
    connect(CheckListBox1, &QListWidget::itemChanged, this, [this](QListWidgetItem *) {
        if (!m_loading) BitBtn1->show();
    });
    connect(BitBtn1, &QPushButton::clicked, this, &TMTFs::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TMTFs::BitBtn3Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TMTFs::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!m_filled) guarded(this, [&] { FormActivate(); });
}

void TMTFs::FormActivate() {
    m_filled = true;
    m_loading = true;
    CheckListBox1->clear();
    for (const auto &f : medtypes::assignableForms()) {
        auto *item = new QListWidgetItem(f.first, CheckListBox1);
        item->setData(Qt::UserRole, f.second);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    medtypes::loadTypeTree(TreeView1);
    for (QTreeWidgetItem *n : TreeNodesInOrder(TreeView1)) n->setFlags(n->flags() | Qt::ItemIsEditable);
    TreeView1->expandAll();
    m_loading = false;
    if (TreeView1->topLevelItemCount() > 0) TreeView1->setCurrentItem(TreeView1->topLevelItem(0));
    setOrderingMode(false);
}

void TMTFs::TreeView1Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n) return;
        m_loading = true;
        struct Done {
            TMTFs *w;
            ~Done() { w->m_loading = false; }
        } done{this};
        for (int i = 0; i < CheckListBox1->count(); ++i) CheckListBox1->item(i)->setCheckState(Qt::Unchecked);
        if (n->childCount() == 0) {
            const QList<qint64> forms = medtypes::formsOfType(TreeNodeId(n));
            for (int i = 0; i < CheckListBox1->count(); ++i)
                if (forms.contains(CheckListBox1->item(i)->data(Qt::UserRole).toLongLong()))
                    CheckListBox1->item(i)->setCheckState(Qt::Checked);
        }
        BitBtn1->hide();
    });
}

void TMTFs::BitBtn1Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n) return;
        QList<qint64> forms;
        for (int i = 0; i < CheckListBox1->count(); ++i)
            if (CheckListBox1->item(i)->checkState() == Qt::Checked)
                forms.append(CheckListBox1->item(i)->data(Qt::UserRole).toLongLong());
        medtypes::saveTypeForms(TreeNodeId(n), forms);
        BitBtn1->hide();
    });
}

void TMTFs::TreeView1Edited(QTreeWidgetItem *item, int) {
    if (m_loading || !item) return;
    const qint64 id = TreeNodeId(item);
    try {
        medtypes::renameType(id, item->text(0));
    } catch (const AppError &e) {
        showError(e.message(), this);
        // Show the stored name again.
        guarded(this, [&] {
            const QString stored = medtypes::typeName(id);
            m_loading = true;
            item->setText(0, stored);
            m_loading = false;
        });
    }
}

bool TMTFs::orderingMode() const { return !BitBtn3->isHidden(); }

void TMTFs::setOrderingMode(bool on) {
    CheckListBox1->setEnabled(!on);
    BitBtn3->setVisible(on);
    TreeView1->setDragEnabled(on);
    TreeView1->setAcceptDrops(on);
    TreeView1->setDragDropMode(on ? QAbstractItemView::InternalMove : QAbstractItemView::NoDragDrop);
}

void TMTFs::BitBtn3Click() {
    guarded(this, [&] {
        medtypes::saveTypeOrder(TreeView1);
        setOrderingMode(false);
    });
}

void TMTFs::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_F11) {
        setOrderingMode(!orderingMode());
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- Marked types ----------------------------------------------------------------------

TMTList::TMTList(const WorkContext &work, QWidget *parent) : QDialog(parent), m_work(work) {
    setObjectName(QStringLiteral("MTList"));
    setWindowTitle(appTitle() + QLatin1Char(' ') + QStringLiteral("Типы учреждений"));
    winutil::fitToScreen(this, QSize(500, 550));
    MainMenu1 = new QMenuBar(this);
    N1 = MainMenu1->addAction(QStringLiteral("Показатели"), this, &TMTList::N1Click);
    N2 = MainMenu1->addAction(QStringLiteral("Разрезы"), this, &TMTList::N2Click);
    N3 = MainMenu1->addAction(QStringLiteral("Выход"), this, &QDialog::reject);
    TreeView1 = new QTreeWidget(this);
    winutil::setupTree(TreeView1);
    TreeView1->setExpandsOnDoubleClick(false);
    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(TreeView1);
    connect(TreeView1, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *item, int) { TreeView1DblClick(item); });
    guarded(this, [&] {
        medtypes::loadTypeTree(TreeView1);
        TreeView1->expandAll();
    });
}

void TMTList::TreeView1DblClick(QTreeWidgetItem *item) {
    if (!item) return;
    if (IsTreeNodeBold(item)) UncheckTreeBranch(item);
    else CheckTreeBranch(item);
    TreeView1->viewport()->update();
}

bool TMTList::GetUnitList() {
    const QList<qint64> types = medtypes::markedLeafTypeIds(TreeView1);
    if (types.isEmpty()) {
        showMessage(QStringLiteral("Необходимо выбрать тип или группу типов учреждений!"), this);
        return false;
    }
    m_work.includeList = medtypes::unitsOfTypes(types);
    return true;
}

void TMTList::N1Click() {
    guarded(this, [&] {
        if (!indicatorTreeOpener()) return;
        // Without a marked type the message is shown and the window opens
        // over the institutions chosen before.
        GetUnitList();
        WorkContext work = m_work;
        work.table = ValueTable::Data;
        QTreeWidgetItem *n = TreeView1->currentItem();
        indicatorTreeOpener()(this, n ? n->text(0) : QStringLiteral("Типы учреждений"), work);
    });
}

void TMTList::N2Click() {
    guarded(this, [&] {
        GetUnitList();
        QTreeWidgetItem *n = TreeView1->currentItem();
        openFormsTreeForTypes(this, m_work, n ? n->text(0) : QStringLiteral("Типы учреждений"));
    });
}

void openMedTypesEditor(QWidget *parent) {
    TMTFs w(parent);
    execModal(&w);
}

void openMedTypesList(QWidget *parent, const WorkContext &work) {
    TMTList w(work, parent);
    execModal(&w);
}
