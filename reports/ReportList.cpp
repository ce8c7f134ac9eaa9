#include "reports/ReportList.h"

#include "core/AdminMode.h"
#include "engine/SharedState.h"
#include "forms/shared/AdmFormLogic.h"
#include "forms/tree/FormList.h"
#include "forms/shared/FormListCommon.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "widgets/WindowLayout.h"
#include "widgets/DialogParts.h"
#include "reports/GroupRecalc.h"
#include "reports/IndicatorWindows.h"
#include "reports/Members.h"
#include "reports/Population.h"
#include "reports/ReportLogic.h"
#include "widgets/SumRepF.h"

#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QString kNetMark = QStringLiteral("Ф47");

} // namespace

// ---- List view -------------------------------------------------------------

TRepListView::TRepListView(QWidget *parent) : QTreeWidget(parent) {
    setColumnCount(2);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::InternalMove);
    header()->setStretchLastSection(false);
    setColumnHidden(1, true);   // the Ф47 column: width 0
    fitFirstColumn();
}

int TRepListView::firstColumnWidth(int listWidth, int scrollBarWidth) {
    return std::max(0, listWidth - 45 - scrollBarWidth);
}

void TRepListView::fitFirstColumn() {
    setColumnWidth(0, firstColumnWidth(width(), style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this)));
}

void TRepListView::resizeEvent(QResizeEvent *event) {
    QTreeWidget::resizeEvent(event);
    fitFirstColumn();
}

void TRepListView::dropEvent(QDropEvent *event) {
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    dropCurrentAt(event->position().toPoint());
}

void TRepListView::dropCurrentAt(const QPoint &pos) {
    QTreeWidgetItem *dragged = currentItem();
    QTreeWidgetItem *target = itemAt(pos);
    if (!dragged || dragged == target) return;
    // A copy goes before the row under the drop point (to the end below the
    // last row), then the dragged row goes.
    auto *copy = new QTreeWidgetItem(QStringList{dragged->text(0), dragged->text(1)});
    copy->setData(0, Qt::UserRole, dragged->data(0, Qt::UserRole));
    const int at = target ? indexOfTopLevelItem(target) : topLevelItemCount();
    insertTopLevelItem(at, copy);
    delete takeTopLevelItem(indexOfTopLevelItem(dragged));
    setCurrentItem(copy);
    emit rowMoved();
}

// ---- Window ----------------------------------------------------------------

TRepList::TRepList(const WorkContext &work, QWidget *parent) : QDialog(parent), m_work(work) {
    setWindowTitle(winutil::appTitle() + QStringLiteral(" Формирование и просмотр"));
    m_ui.menuBar = new QMenuBar(this);
    m_ui.includes = m_ui.menuBar->addAction(QStringLiteral("Входящие учреждения"));
    m_ui.view = m_ui.menuBar->addAction(QStringLiteral("Просмотр"));
    m_ui.groupRecalc = m_ui.menuBar->addAction(QStringLiteral("Групповой пересчет"));
    m_ui.load = m_ui.menuBar->addAction(QStringLiteral("Подгрузить"));
    m_ui.unload = m_ui.menuBar->addAction(QStringLiteral("Выгрузить"));
    m_ui.memberReports = m_ui.menuBar->addAction(QStringLiteral("Входящие отчеты"));
    m_ui.indicators = m_ui.menuBar->addAction(QStringLiteral("Показатели"));
    m_ui.breakdowns = m_ui.menuBar->addAction(QStringLiteral("Разрезы"));
    m_ui.population = m_ui.menuBar->addAction(QStringLiteral("Население"));
    m_ui.reportMenu = m_ui.menuBar->addMenu(QStringLiteral("Отчет"));
    m_ui.add = m_ui.reportMenu->addAction(QStringLiteral("Добавить"));
    m_ui.rename = m_ui.reportMenu->addAction(QStringLiteral("Корректировать"));
    m_ui.remove = m_ui.reportMenu->addAction(QStringLiteral("Удалить"));
    m_ui.saveOrder = m_ui.menuBar->addAction(QStringLiteral("Сохранить сортировку"));
    m_ui.exit = m_ui.menuBar->addAction(QStringLiteral("Выход"));
    for (QAction *a : {m_ui.memberReports, m_ui.indicators, m_ui.breakdowns, m_ui.population, m_ui.saveOrder}) a->setVisible(false);

    m_ui.list = new TRepListView(this);
    m_ui.list->installEventFilter(this);
    auto *l = new QVBoxLayout(this);
    l->setMenuBar(m_ui.menuBar);
    // The list: the window's width less 10 pixels, 5 pixels above its bottom.
    l->setContentsMargins(5, 0, 5, 5);
    l->addWidget(m_ui.list);
    fitToMenu();

    connect(m_ui.includes, &QAction::triggered, this, &TRepList::editIncludedInstitutions);
    connect(m_ui.view, &QAction::triggered, this, &TRepList::openFormsTree);
    connect(m_ui.breakdowns, &QAction::triggered, this, &TRepList::openFormsTree);
    connect(m_ui.groupRecalc, &QAction::triggered, this, &TRepList::openGroupRecalculation);
    connect(m_ui.load, &QAction::triggered, this, &TRepList::loadReportFile);
    connect(m_ui.unload, &QAction::triggered, this, &TRepList::unloadReportFile);
    connect(m_ui.memberReports, &QAction::triggered, this, &TRepList::editMemberReports);
    connect(m_ui.indicators, &QAction::triggered, this, &TRepList::showIndicators);
    connect(m_ui.population, &QAction::triggered, this, &TRepList::editPopulation);
    connect(m_ui.add, &QAction::triggered, this, &TRepList::addReport);
    connect(m_ui.rename, &QAction::triggered, this, &TRepList::renameReport);
    connect(m_ui.remove, &QAction::triggered, this, &TRepList::deleteReport);
    connect(m_ui.saveOrder, &QAction::triggered, this, &TRepList::saveOrder);
    connect(m_ui.exit, &QAction::triggered, this, &QDialog::reject);
    connect(m_ui.list, &TRepListView::rowMoved, this, [this] { m_ui.saveOrder->setVisible(true); });

    RegisterAdminForm(this);
    FormCreate();
}

void TRepList::fitToMenu() {
    // Wide enough for every shown menu item, "Сохранить сортировку" counted
    // too (it appears after a drag), so that none hides behind "»". On a
    // screen narrower than that the menu's type is made smaller.
    const bool saveShown = m_ui.saveOrder->isVisible();
    m_ui.saveOrder->setVisible(true);
    const QMargins m = layout()->contentsMargins();
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int room = (screen ? screen->availableGeometry().width() : 1024) - m.left() - m.right();
    m_ui.menuBar->setFont(QFont());
    for (int step = 0; step < 6 && m_ui.menuBar->sizeHint().width() > room; ++step) {
        QFont f = m_ui.menuBar->font();
        f.setPointSizeF(f.pointSizeF() * 0.95);
        m_ui.menuBar->setFont(f);
    }
    const int menuWidth = m_ui.menuBar->sizeHint().width();
    m_ui.saveOrder->setVisible(saveShown);
    winutil::fitToScreen(this, QSize(qMax(520, menuWidth + m.left() + m.right()), 480));
}

QTreeWidgetItem *TRepList::addRow(qint64 id, const QString &name, bool net) {
    auto *item = new QTreeWidgetItem(m_ui.list, QStringList{name, net ? kNetMark : QString()});
    item->setData(0, Qt::UserRole, id);
    return item;
}

void TRepList::FormCreate() {
    m_ui.list->clear();
    for (const reports::ReportRow &r : reports::listReports(m_work.net)) addRow(r.id, r.name, r.net);
    if (m_ui.list->topLevelItemCount() > 0) m_ui.list->setCurrentItem(m_ui.list->topLevelItem(0));
}

qint64 TRepList::currentId() const {
    const QTreeWidgetItem *i = m_ui.list->currentItem();
    return i ? i->data(0, Qt::UserRole).toLongLong() : 0;
}

QString TRepList::currentName() const {
    const QTreeWidgetItem *i = m_ui.list->currentItem();
    return i ? i->text(0) : QString();
}

bool TRepList::currentNet() const {
    const QTreeWidgetItem *i = m_ui.list->currentItem();
    return i && !i->text(1).isEmpty();
}

template <typename F>
void TRepList::onCurrent(F &&work) {
    winutil::guarded(this, [&] {
        if (!m_ui.list->currentItem()) {
            showMessage(QStringLiteral("Не выбран отчет"), this);
            return;
        }
        work(currentId(), currentName());
    });
}

void TRepList::editIncludedInstitutions() {
    onCurrent([&](qint64 id, const QString &name) { editReportIncludes(this, id, name); });
}

void TRepList::openFormsTree() {
    onCurrent([&](qint64 id, const QString &name) {
        const QString members = reports::memberListFor(m_work.mode, id, false);
        openFormsTreeForReport(this, m_work, id, name, members, reports::memberKindFor(m_work.mode, false));
    });
}

void TRepList::openGroupRecalculation() { openGroupRecalc(this); }

void TRepList::unloadReportFile() {
    onCurrent([&](qint64 id, const QString &name) {
        const SharedState &s = shared();
        if (!transfer::hasValuesToWrite(ValueTable::RepData, id, s.Year)) {
            showMessage(transfer::nothingToWriteMessage(name, s.Year), this);
            return;
        }
        const QString folder = s.ConfigPath + QStringLiteral("data");
        if (!paths::makePath(folder))
            throw db::Error(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(folder)));
        const QString suggested = folder + QLatin1Char('/') +
                                  transfer::fittedFileName(name + QStringLiteral(" - ") + adm::levelName() +
                                                               QStringLiteral(" - ") + s.yearText(),
                                                           QStringLiteral(".rpd"));
        QString path = dialogs().saveFile(this, QStringLiteral("Выгрузить"), suggested,
                                          QStringLiteral("Сводные отчеты (rps) (*.rpd)"));
        if (path.isEmpty()) return;
        if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".rpd");
        const transfer::WriteResult r = transfer::saveReport(id, path);
        if (r.skipped > 0)
            showWarning(QStringLiteral("Значения таблиц, которых нет в перечне форм, не выгружены: %1")
                            .arg(r.skipped),
                        this);
        showMessage(QStringLiteral("Данные по ") + name + QStringLiteral(" выгружены в файл ") +
                        QDir::toNativeSeparators(path),
                    this);
    });
}

void TRepList::loadReportFile() {
    onCurrent([&](qint64 id, const QString &name) {
        const QString folder = shared().ConfigPath + QStringLiteral("data/");
        const QString path = dialogs().openFile(this, QStringLiteral("Подгрузить"),
                                                transfer::loadDialogStart(folder, name),
                                                QStringLiteral("Сводные отчеты (*.rps, *.rpd) (*.rps *.rpd)"));
        if (path.isEmpty()) return;
        // The file stands for the report's year: forms it has no line of are emptied, said first.
        if (const QString emptied = transfer::emptiedFormsQuestion(
                {{name, transfer::formsEmptiedByReportLoad(id, path)}}, shared().Year);
            !emptied.isEmpty() && !confirmDefaultNo(emptied, this))
            return;
        const transfer::LoadResult r = transfer::loadReport(id, path);
        if (r.skipped > 0)
            showWarning(QStringLiteral("Строки файла, которые не относятся к таблицам перечня форм или к %1 году, "
                                       "не загружены: %2").arg(shared().yearText()).arg(r.skipped),
                        this);
        showMessage(importpolicy::withNotes(
                        transfer::loadedMessage(QStringLiteral("Данные по ") + name + QStringLiteral(" загружены из файла"), r),
                        {transfer::emptiedFormsNote({{name, r.emptiedForms}})}),
                    this);
    });
}

void TRepList::editMemberReports() {
    onCurrent([&](qint64 id, const QString &name) { editReportComposition(this, id, name); });
}

void TRepList::showIndicators() {
    onCurrent([&](qint64 id, const QString &name) {
        WorkContext work = m_work;
        work.table = ValueTable::RepData;
        work.institution = id;
        work.includeList = reports::memberListFor(m_work.mode, id, true);
        work.members = reports::memberKindFor(m_work.mode, true);
        openIndicatorTreeForViewing(this, name + QStringLiteral(" - \"дерево\" показателей"), work);
    });
}

void TRepList::editPopulation() {
    onCurrent([&](qint64 id, const QString &name) { editReportPopulation(this, id, name); });
}

void TRepList::addReport() {
    winutil::guarded(this, [&] {
        TSumRepF dlg(this);
        if (m_work.net) dlg.setInNetReport(true, false);
        if (execModal(&dlg) != QDialog::Accepted) return;
        const QString name = dlg.name().trimmed();
        if (name.isEmpty()) {
            showMessage(QStringLiteral("Не указано наименование отчета"), this);
            return;
        }
        const bool net = m_work.net || dlg.inNetReport();
        const qint64 id = reports::addReport(name, net);
        m_ui.list->setCurrentItem(addRow(id, reports::reportName(id), net));   // as stored
    });
}

void TRepList::renameReport() {
    onCurrent([&](qint64 id, const QString &name) {
        TSumRepF dlg(this);
        dlg.setName(name);
        dlg.setInNetReport(currentNet(), !m_work.net);
        if (execModal(&dlg) != QDialog::Accepted) return;
        const QString newName = dlg.name().trimmed();
        if (newName.isEmpty()) {
            showMessage(QStringLiteral("Не указано наименование отчета"), this);
            return;
        }
        const bool net = dlg.inNetReport();
        reports::renameReport(id, newName, net);
        QTreeWidgetItem *item = m_ui.list->currentItem();
        item->setText(0, reports::reportName(id));   // as stored
        item->setText(1, net ? kNetMark : QString());
    });
}

void TRepList::deleteReport() {
    onCurrent([&](qint64 id, const QString &name) {
        if (!confirm(QStringLiteral("Вы действительно желаете удалить ") + name + QStringLiteral(" со всей информацией?"),
                     this))
            return;
        reports::deleteReport(id);
        delete m_ui.list->currentItem();
    });
}

void TRepList::saveOrder() {
    winutil::guarded(this, [&] {
        QList<qint64> ids;
        for (int i = 0; i < m_ui.list->topLevelItemCount(); ++i)
            ids.append(m_ui.list->topLevelItem(i)->data(0, Qt::UserRole).toLongLong());
        reports::saveOrder(ids);
        m_ui.saveOrder->setVisible(false);
    });
}

void TRepList::switchNetMark() {
    winutil::guarded(this, [&] {
        QTreeWidgetItem *item = m_ui.list->currentItem();
        if (!item) return;
        const bool net = reports::toggleNet(currentId());
        item->setText(1, net ? kNetMark : QString());
    });
}

bool TRepList::eventFilter(QObject *watched, QEvent *event) {
    const QKeyEvent *k = dlgparts::keyPressOn(watched, m_ui.list, event);
    if (k && k->key() == Qt::Key_F7) {
        switchNetMark();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TRepList::keyPressEvent(QKeyEvent *event) {
    if (dlgparts::rejectOnEscape(this, event)) return;
    QDialog::keyPressEvent(event);
}

void TRepList::setIndicatorMode(bool composite) {
    for (QAction *a : {m_ui.load, m_ui.includes, m_ui.unload, m_ui.reportMenu->menuAction(), m_ui.view, m_ui.remove}) a->setVisible(false);
    m_ui.indicators->setVisible(true);
    m_ui.breakdowns->setVisible(true);
    m_ui.population->setVisible(true);
    m_ui.memberReports->setVisible(composite);
}

// ---- Openers ---------------------------------------------------------------

namespace {

void openReportList(QWidget *parent, const WorkContext &work, const QString &suffix, bool indicators, bool composite) {
    winutil::guarded(parent, [&] {
        TRepList w(work, parent);
        w.setWindowTitle(w.windowTitle() + suffix);
        if (indicators) w.setIndicatorMode(composite);
        w.fitToMenu();
        execModal(&w);
    });
}

} // namespace

void openReportListSvod(QWidget *parent, const WorkContext &work) {
    openReportList(parent, work, QStringLiteral(" сводных отчетов"), false, false);
}
void openReportListNet(QWidget *parent, const WorkContext &work) {
    openReportList(parent, work, QStringLiteral(" Ф47"), false, false);
}
void openReportListTerrain(QWidget *parent, const WorkContext &work) { openReportList(parent, work, QString(), true, true); }
void openReportListSingle(QWidget *parent, const WorkContext &work) { openReportList(parent, work, QString(), true, false); }
