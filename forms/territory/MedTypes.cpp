#include "forms/territory/MedTypes.h"

#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/tree/FormList.h"
#include "forms/shared/FormListCommon.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "widgets/WindowLayout.h"

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
    m_ui.typesCaption = new QLabel(QStringLiteral("Типы медицинских учреждений"), this);
    m_ui.formsCaption = new QLabel(QStringLiteral("Отчетные формы"), this);
    m_ui.types = new TMTTree(this);
    m_ui.forms = new QListWidget(this);
    m_ui.save = new QPushButton(QStringLiteral("Сохранить"), this);
    m_ui.saveOrder = new QPushButton(QStringLiteral("Сохранить порядок"), this);
    m_ui.exit = new QPushButton(QStringLiteral("Выход"), this);
    m_ui.save->hide();
    m_ui.saveOrder->hide();

    auto *grid = new QGridLayout(this);
    grid->addWidget(m_ui.typesCaption, 0, 0);
    grid->addWidget(m_ui.formsCaption, 0, 1);
    grid->addWidget(m_ui.types, 1, 0);
    grid->addWidget(m_ui.forms, 1, 1);
    auto *left = new QHBoxLayout;
    left->addStretch();
    left->addWidget(m_ui.saveOrder);
    left->addStretch();
    auto *right = new QHBoxLayout;
    right->addWidget(m_ui.save);
    right->addStretch();
    right->addWidget(m_ui.exit);
    grid->addLayout(left, 2, 0);
    grid->addLayout(right, 2, 1);

    connect(m_ui.types, &QTreeWidget::currentItemChanged, this, &TMTFs::showTypeForms);
    connect(m_ui.types, &QTreeWidget::itemChanged, this, &TMTFs::renameType);
    connect(m_ui.forms, &QListWidget::itemChanged, this, [this](QListWidgetItem *) {
        if (!m_loading) m_ui.save->show();
    });
    connect(m_ui.save, &QPushButton::clicked, this, &TMTFs::saveTypeForms);
    connect(m_ui.saveOrder, &QPushButton::clicked, this, &TMTFs::saveTypeOrder);
    connect(m_ui.exit, &QPushButton::clicked, this, &QDialog::reject);
}

void TMTFs::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!m_filled) guarded(this, [&] { FormActivate(); });
}

void TMTFs::FormActivate() {
    m_filled = true;
    m_loading = true;
    m_ui.forms->clear();
    for (const auto &f : medtypes::assignableForms()) {
        auto *item = new QListWidgetItem(f.first, m_ui.forms);
        item->setData(Qt::UserRole, f.second);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    medtypes::loadTypeTree(m_ui.types);
    for (QTreeWidgetItem *n : TreeNodesInOrder(m_ui.types)) n->setFlags(n->flags() | Qt::ItemIsEditable);
    m_ui.types->expandAll();
    m_loading = false;
    if (m_ui.types->topLevelItemCount() > 0) m_ui.types->setCurrentItem(m_ui.types->topLevelItem(0));
    setOrderingMode(false);
}

void TMTFs::showTypeForms() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.types->currentItem();
        if (!n) return;
        m_loading = true;
        struct Done {
            TMTFs *w;
            ~Done() { w->m_loading = false; }
        } done{this};
        for (int i = 0; i < m_ui.forms->count(); ++i) m_ui.forms->item(i)->setCheckState(Qt::Unchecked);
        if (n->childCount() == 0) {
            const QList<qint64> forms = medtypes::formsOfType(TreeNodeId(n));
            for (int i = 0; i < m_ui.forms->count(); ++i)
                if (forms.contains(m_ui.forms->item(i)->data(Qt::UserRole).toLongLong()))
                    m_ui.forms->item(i)->setCheckState(Qt::Checked);
        }
        m_ui.save->hide();
    });
}

void TMTFs::saveTypeForms() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.types->currentItem();
        if (!n) return;
        QList<qint64> forms;
        for (int i = 0; i < m_ui.forms->count(); ++i)
            if (m_ui.forms->item(i)->checkState() == Qt::Checked)
                forms.append(m_ui.forms->item(i)->data(Qt::UserRole).toLongLong());
        medtypes::saveTypeForms(TreeNodeId(n), forms);
        m_ui.save->hide();
    });
}

void TMTFs::renameType(QTreeWidgetItem *item, int) {
    if (m_loading || !item) return;
    const qint64 id = TreeNodeId(item);
    try {
        medtypes::renameType(id, item->text(0));
    } catch (const AppError &e) {
        showError(e.message(), this);
        // Show the stored name again (none when the type is gone).
        guarded(this, [&] {
            const QString stored = medtypes::typeName(id);
            if (stored.isEmpty()) return;
            m_loading = true;
            item->setText(0, stored);
            m_loading = false;
        });
    }
}

bool TMTFs::orderingMode() const { return !m_ui.saveOrder->isHidden(); }

void TMTFs::setOrderingMode(bool on) {
    m_ui.forms->setEnabled(!on);
    m_ui.saveOrder->setVisible(on);
    m_ui.types->setDragEnabled(on);
    m_ui.types->setAcceptDrops(on);
    m_ui.types->setDragDropMode(on ? QAbstractItemView::InternalMove : QAbstractItemView::NoDragDrop);
}

void TMTFs::saveTypeOrder() {
    guarded(this, [&] {
        medtypes::saveTypeOrder(m_ui.types);
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
    m_ui.menuBar = new QMenuBar(this);
    m_ui.indicators = m_ui.menuBar->addAction(QStringLiteral("Показатели"), this, &TMTList::showIndicators);
    m_ui.breakdowns = m_ui.menuBar->addAction(QStringLiteral("Разрезы"), this, &TMTList::openBreakdowns);
    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"), this, &QDialog::reject);
    m_ui.types = new QTreeWidget(this);
    winutil::setupTree(m_ui.types);
    m_ui.types->setExpandsOnDoubleClick(false);
    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(m_ui.menuBar);
    layout->addWidget(m_ui.types);
    connect(m_ui.types, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *item, int) { switchType(item); });
    guarded(this, [&] {
        medtypes::loadTypeTree(m_ui.types);
        m_ui.types->expandAll();
    });
}

void TMTList::switchType(QTreeWidgetItem *item) {
    if (!item) return;
    if (IsTreeNodeMarked(item)) UncheckTreeBranch(item);
    else CheckTreeBranch(item);
    m_ui.types->viewport()->update();
}

bool TMTList::GetUnitList() {
    const QList<qint64> types = MarkedLeafIds(m_ui.types);
    if (types.isEmpty()) {
        showMessage(QStringLiteral("Необходимо выбрать тип или группу типов учреждений!"), this);
        return false;
    }
    m_work.includeList = medtypes::unitsOfTypes(types);
    return true;
}

void TMTList::showIndicators() {
    guarded(this, [&] {
        if (!indicatorTreeOpener()) return;
        // Without a marked type the message is shown and the window opens
        // over the institutions chosen before.
        GetUnitList();
        WorkContext work = m_work;
        work.table = ValueTable::Data;
        QTreeWidgetItem *n = m_ui.types->currentItem();
        indicatorTreeOpener()(this, n ? n->text(0) : QStringLiteral("Типы учреждений"), work);
    });
}

void TMTList::openBreakdowns() {
    guarded(this, [&] {
        GetUnitList();
        QTreeWidgetItem *n = m_ui.types->currentItem();
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
