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
    MainMenu1 = new QMenuBar(this);
    N2 = MainMenu1->addAction(QStringLiteral("Входящие учреждения"));
    N7 = MainMenu1->addAction(QStringLiteral("Просмотр"));
    N12 = MainMenu1->addAction(QStringLiteral("Групповой пересчет"));
    N1 = MainMenu1->addAction(QStringLiteral("Подгрузить"));
    N3 = MainMenu1->addAction(QStringLiteral("Выгрузить"));
    N11 = MainMenu1->addAction(QStringLiteral("Входящие отчеты"));
    N9 = MainMenu1->addAction(QStringLiteral("Показатели"));
    N10 = MainMenu1->addAction(QStringLiteral("Разрезы"));
    N13 = MainMenu1->addAction(QStringLiteral("Население"));
    N6 = MainMenu1->addMenu(QStringLiteral("Отчет"));
    N4 = N6->addAction(QStringLiteral("Добавить"));
    N5 = N6->addAction(QStringLiteral("Корректировать"));
    N8 = N6->addAction(QStringLiteral("Удалить"));
    N14 = MainMenu1->addAction(QStringLiteral("Сохранить сортировку"));
    N15 = MainMenu1->addAction(QStringLiteral("Выход"));
    for (QAction *a : {N11, N9, N10, N13, N14}) a->setVisible(false);

    ListView1 = new TRepListView(this);
    ListView1->installEventFilter(this);
    auto *l = new QVBoxLayout(this);
    l->setMenuBar(MainMenu1);
    // The list: the window's width less 10 pixels, 5 pixels above its bottom.
    l->setContentsMargins(5, 0, 5, 5);
    l->addWidget(ListView1);
    fitToMenu();

    connect(N2, &QAction::triggered, this, &TRepList::N2Click);
    connect(N7, &QAction::triggered, this, &TRepList::Button7Click);
    connect(N10, &QAction::triggered, this, &TRepList::Button7Click);
    connect(N12, &QAction::triggered, this, &TRepList::N12Click);
    connect(N1, &QAction::triggered, this, &TRepList::N1Click);
    connect(N3, &QAction::triggered, this, &TRepList::N3Click);
    connect(N11, &QAction::triggered, this, &TRepList::N11Click);
    connect(N9, &QAction::triggered, this, &TRepList::N9Click);
    connect(N13, &QAction::triggered, this, &TRepList::N13Click);
    connect(N4, &QAction::triggered, this, &TRepList::N4Click);
    connect(N5, &QAction::triggered, this, &TRepList::N5Click);
    connect(N8, &QAction::triggered, this, &TRepList::N8Click);
    connect(N14, &QAction::triggered, this, &TRepList::N14Click);
    connect(N15, &QAction::triggered, this, &QDialog::reject);
    connect(ListView1, &TRepListView::rowMoved, this, [this] { N14->setVisible(true); });

    RegisterAdminForm(this);
}

void TRepList::fitToMenu() {
    // Wide enough for every shown menu item, "Сохранить сортировку" counted
    // too (it appears after a drag), so that none hides behind "»". On a
    // screen narrower than that the menu's type is made smaller.
    const bool saveShown = N14->isVisible();
    N14->setVisible(true);
    const QMargins m = layout()->contentsMargins();
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int room = (screen ? screen->availableGeometry().width() : 1024) - m.left() - m.right();
    MainMenu1->setFont(QFont());
    for (int step = 0; step < 6 && MainMenu1->sizeHint().width() > room; ++step) {
        QFont f = MainMenu1->font();
        f.setPointSizeF(f.pointSizeF() * 0.95);
        MainMenu1->setFont(f);
    }
    const int menuWidth = MainMenu1->sizeHint().width();
    N14->setVisible(saveShown);
    winutil::fitToScreen(this, QSize(qMax(520, menuWidth + m.left() + m.right()), 480));
}

QTreeWidgetItem *TRepList::addRow(qint64 id, const QString &name, bool net) {
    auto *item = new QTreeWidgetItem(ListView1, QStringList{name, net ? kNetMark : QString()});
    item->setData(0, Qt::UserRole, id);
    return item;
}

void TRepList::FormCreate() {
    ListView1->clear();
    for (const reports::ReportRow &r : reports::listReports(m_work.net)) addRow(r.id, r.name, r.net);
    if (ListView1->topLevelItemCount() > 0) ListView1->setCurrentItem(ListView1->topLevelItem(0));
}

qint64 TRepList::currentId() const {
    const QTreeWidgetItem *i = ListView1->currentItem();
    return i ? i->data(0, Qt::UserRole).toLongLong() : 0;
}

QString TRepList::currentName() const {
    const QTreeWidgetItem *i = ListView1->currentItem();
    return i ? i->text(0) : QString();
}

bool TRepList::currentNet() const {
    const QTreeWidgetItem *i = ListView1->currentItem();
    return i && !i->text(1).isEmpty();
}

template <typename F>
void TRepList::onCurrent(F &&work) {
    winutil::guarded(this, [&] {
        if (!ListView1->currentItem()) {
            showMessage(QStringLiteral("Не выбран отчет"), this);
            return;
        }
        work(currentId(), currentName());
    });
}

void TRepList::N2Click() {
    onCurrent([&](qint64 id, const QString &name) { editReportIncludes(this, id, name); });
}

void TRepList::Button7Click() {
    onCurrent([&](qint64 id, const QString &name) {
        const QString members = reports::memberListFor(m_work.mode, id, false);
        openFormsTreeForReport(this, m_work, id, name, members, reports::memberKindFor(m_work.mode, false));
    });
}

void TRepList::N12Click() { openGroupRecalc(this); }

void TRepList::N3Click() {
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

void TRepList::N1Click() {
    onCurrent([&](qint64 id, const QString &name) {
        const QString folder = shared().ConfigPath + QStringLiteral("data/");
        const QString path = dialogs().openFile(this, QStringLiteral("Подгрузить"),
                                                folder + transfer::safeFileName(name),
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

void TRepList::N11Click() {
    onCurrent([&](qint64 id, const QString &name) { editReportComposition(this, id, name); });
}

void TRepList::N9Click() {
    onCurrent([&](qint64 id, const QString &name) {
        WorkContext work = m_work;
        work.table = ValueTable::RepData;
        work.institution = id;
        work.includeList = reports::memberListFor(m_work.mode, id, true);
        work.members = reports::memberKindFor(m_work.mode, true);
        openIndicatorTreeForViewing(this, name + QStringLiteral(" - \"дерево\" показателей"), work);
    });
}

void TRepList::N13Click() {
    onCurrent([&](qint64 id, const QString &name) { editReportPopulation(this, id, name); });
}

void TRepList::N4Click() {
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
        ListView1->setCurrentItem(addRow(id, reports::reportName(id), net));   // as stored
    });
}

void TRepList::N5Click() {
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
        QTreeWidgetItem *item = ListView1->currentItem();
        item->setText(0, reports::reportName(id));   // as stored
        item->setText(1, net ? kNetMark : QString());
    });
}

void TRepList::N8Click() {
    onCurrent([&](qint64 id, const QString &name) {
        if (!confirm(QStringLiteral("Вы действительно желаете удалить ") + name + QStringLiteral(" со всей информацией?"),
                     this))
            return;
        reports::deleteReport(id);
        delete ListView1->currentItem();
    });
}

void TRepList::N14Click() {
    winutil::guarded(this, [&] {
        QList<qint64> ids;
        for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
            ids.append(ListView1->topLevelItem(i)->data(0, Qt::UserRole).toLongLong());
        reports::saveOrder(ids);
        N14->setVisible(false);
    });
}

void TRepList::ListView1KeyF7() {
    winutil::guarded(this, [&] {
        QTreeWidgetItem *item = ListView1->currentItem();
        if (!item) return;
        const bool net = reports::toggleNet(currentId());
        item->setText(1, net ? kNetMark : QString());
    });
}

bool TRepList::eventFilter(QObject *watched, QEvent *event) {
    const QKeyEvent *k = dlgparts::keyPressOn(watched, ListView1, event);
    if (k && k->key() == Qt::Key_F7) {
        ListView1KeyF7();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TRepList::keyPressEvent(QKeyEvent *event) {
    if (dlgparts::rejectOnEscape(this, event)) return;
    QDialog::keyPressEvent(event);
}

void TRepList::setIndicatorMode(bool composite) {
    for (QAction *a : {N1, N2, N3, N6->menuAction(), N7, N8}) a->setVisible(false);
    N9->setVisible(true);
    N10->setVisible(true);
    N13->setVisible(true);
    N11->setVisible(composite);
}

// ---- Openers ---------------------------------------------------------------

namespace {

void openReportList(QWidget *parent, const WorkContext &work, const QString &suffix, bool indicators, bool composite) {
    TRepList w(work, parent);
    winutil::guarded(&w, [&] {
        w.setWindowTitle(w.windowTitle() + suffix);
        if (indicators) w.setIndicatorMode(composite);
        w.fitToMenu();
        w.FormCreate();
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
