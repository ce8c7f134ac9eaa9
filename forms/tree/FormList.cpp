#include "forms/tree/FormList.h"

#include "core/AdminMode.h"
#include "engine/Lookups.h"
#include "engine/SummaryMembers.h"
#include "engine/Conditions.h"
#include "core/ListWindow.h"
#include "engine/ProgressSink.h"
#include "core/ProgressWindow.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/shared/AdmFormLogic.h"
#include "forms/output/ExcelOutput.h"
#include "forms/shared/FormListCommon.h"
#include "forms/output/ShortNames.h"
#include "forms/table/TableWindow.h"
#include "forms/shared/TransferFiles.h"
#include "forms/output/WordOutput.h"
#include "core/WarningWindow.h"
#include "platform/office/Show.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "widgets/WindowLayout.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

using winutil::appTitle;
using winutil::guarded;

constexpr int kLabelPaintIntervalMs = 40;

// Progress on the window's gauge and, for a recalculation, in the progress
// window with "Отмена".
class GaugeSink : public ProgressSink {
public:
    explicit GaugeSink(QProgressBar *g, TProgress *window = nullptr) : m_gauge(g), m_window(window) {}
    void setMax(int max) override {
        m_gauge->setMaximum(std::max(max, 1));
        if (m_window) m_window->setMax(max);
    }
    void setPosition(int position) override {
        m_gauge->setValue(position);
        if (m_window) m_window->setPosition(position);
        else if (position % 200 == 0) QApplication::processEvents();
    }
    void setStatusText(const QString &text) override {
        if (m_window) m_window->setStatusText(text);
    }
    void setDetailText(const QString &text) override {
        if (m_window) m_window->setDetailText(text);
    }
    bool cancelled() const override { return m_window && m_window->cancelled(); }
private:
    QProgressBar *m_gauge;
    TProgress *m_window;
};

using winutil::WaitCursor;

} // namespace

TFormList::TFormList(const WorkContext &work, QWidget *parent, const QString &unitName)
    : QDialog(parent), m_work(work), m_unitName(unitName) {
    setObjectName(QStringLiteral("FormList"));
    // Wide enough for the whole menu bar of a network form.
    winutil::fitToScreen(this, QSize(1100, 700));

    buildMenu();
    m_ui.status = new QLabel(this);
    m_ui.status->setAlignment(Qt::AlignCenter);
    m_ui.gauge = new QProgressBar(this);
    m_ui.gauge->setFixedHeight(4);
    m_ui.gauge->setTextVisible(false);
    m_ui.tree = new QTreeWidget(this);
    winutil::setupTree(m_ui.tree);
    QFont f = m_ui.tree->font();
    f.setPixelSize(13);
    m_ui.tree->setFont(f);
    connect(m_ui.tree, &QTreeWidget::currentItemChanged, this, &TFormList::updateCommands);
    connect(m_ui.tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item, int) {
        if (item && item->childCount() == 0) openTable();
    });

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(m_ui.menu);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addWidget(m_ui.status);
    layout->addWidget(m_ui.gauge);
    layout->addWidget(m_ui.tree, 1);

    m_ui.errors->setVisible(false);
    m_ui.recalcForm->setVisible(false);
    m_ui.recalcReport->setVisible(false);
    if (m_work.net) m_ui.recalcReport->setVisible(false);
    else m_ui.formulaMenu->menuAction()->setVisible(false);
    if (m_work.mode == ReportMode::Types) m_ui.excelMenu->menuAction()->setVisible(false);
    if (m_work.table == ValueTable::Data) {
        m_ui.excelFormPerMember->setVisible(false);
        m_ui.excelTablePerMember->setVisible(false);
    }
    m_ui.table->setEnabled(false);
    m_ui.clearTable->setEnabled(false);
    m_ui.excelTablePerMember->setEnabled(false);
    RegisterAdminForm(this);
}

TFormList::~TFormList() = default;

// The menu bar; what the window's kind does not offer is hidden by the constructor.
void TFormList::buildMenu() {
    m_ui.menu = new QMenuBar(this);
    m_ui.table = m_ui.menu->addAction(QStringLiteral("Таблица"), this, &TFormList::openTable);
    m_ui.controlMenu = m_ui.menu->addMenu(QStringLiteral("Контроль"));
    m_ui.controlTables = m_ui.controlMenu->addAction(QStringLiteral("Межтабличный"), this, &TFormList::controlTables);
    m_ui.controlForms = m_ui.controlMenu->addAction(QStringLiteral("Межформенный"), this, &TFormList::controlForms);
    m_ui.controlAll = m_ui.controlMenu->addAction(QStringLiteral("Сплошной"), this, &TFormList::controlAll);
    m_ui.printMenu = m_ui.menu->addMenu(QStringLiteral("Печать формы"));
    m_ui.printRough = m_ui.printMenu->addAction(QStringLiteral("Черновая"), this, &TFormList::printRough);
    m_ui.printDebug = m_ui.printMenu->addAction(QStringLiteral("Отладочная"), this, &TFormList::printDebug);
    m_ui.printDebug->setProperty("Tag", kAdminTag);
    m_ui.printForReport = m_ui.printMenu->addAction(QStringLiteral("Для отчета"), this, &TFormList::printForReport);
    m_ui.printMenu->addSeparator();
    m_ui.printProtocol = m_ui.printMenu->addAction(QStringLiteral("Протокол"), this, &TFormList::printProtocol);
    m_ui.excelMenu = m_ui.menu->addMenu(QStringLiteral("Вывод в Excel"));
    m_ui.excelForm = m_ui.excelMenu->addAction(QStringLiteral("Вся форма по тек. ЛПУ/своду"), this, &TFormList::excelForm);
    m_ui.excelFormPerMember = m_ui.excelMenu->addAction(QStringLiteral("Вся форма по входящим ЛПУ/сводам"), this, &TFormList::excelFormPerMember);
    m_ui.excelTablePerMember = m_ui.excelMenu->addAction(QStringLiteral("Таблица по входящим ЛПУ/сводам"), this, &TFormList::excelTablePerMember);
    m_ui.macroMenu = m_ui.menu->addMenu(QStringLiteral("Макрос"));
    m_ui.macroRun = m_ui.macroMenu->addAction(QStringLiteral("Выполнять"));
    m_ui.macroRun->setCheckable(true);
    m_ui.macroRun->setChecked(true);
    m_ui.macroMenu->menuAction()->setVisible(false);
    m_ui.errors = m_ui.menu->addAction(QStringLiteral("Ошибки"), this, &TFormList::showControlErrors);
    m_ui.loadForm = m_ui.menu->addAction(QStringLiteral("Подгрузить форму"), this, &TFormList::loadForm);
    m_ui.recalcReport = m_ui.menu->addAction(QStringLiteral("Пересчитать отчет"), this, &TFormList::recalculateReport);
    m_ui.recalcForm = m_ui.menu->addAction(QStringLiteral("Пересчитать форму"), this, &TFormList::recalculateSelectedForm);
    m_ui.clearMenu = m_ui.menu->addMenu(QStringLiteral("Очистить"));
    m_ui.clearInstitution = m_ui.clearMenu->addAction(QStringLiteral("ЛПУ"), this, &TFormList::clearInstitution);
    m_ui.clearForm = m_ui.clearMenu->addAction(QStringLiteral("Форму"), this, &TFormList::clearForm);
    m_ui.clearTable = m_ui.clearMenu->addAction(QStringLiteral("Таблицу"), this, &TFormList::clearTable);
    m_ui.groupLoad = m_ui.menu->addAction(QStringLiteral("Групповая подгрузка таблицы"), this, &TFormList::loadTableForGroup);
    m_ui.formulaMenu = m_ui.menu->addMenu(QStringLiteral("Формулы расчёта"));
    m_ui.exportFormulas = m_ui.formulaMenu->addAction(QStringLiteral("Экспорт формул расчёта\tF2"), this, &TFormList::exportFormulas);
    m_ui.importFormulas = m_ui.formulaMenu->addAction(QStringLiteral("Импорт формул расчёта\tF3"), this, &TFormList::importFormulas);
    m_ui.exit = m_ui.menu->addAction(QStringLiteral("Выход"), this, &QDialog::reject);
}


QString TFormList::unitName() const {
    return m_unitName.isEmpty() ? winutil::storedUnitName(m_work.table, m_work.institution) : m_unitName;
}

void TFormList::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!m_captionDone) {
        m_captionDone = true;
        m_baseCaption = windowTitle();
        setWindowTitle(appTitle() + QLatin1Char(' ') + m_baseCaption);
    }
}

QString TFormList::yearText() const { return shared().yearText(); }

void TFormList::setLabel(const QString &text) {
    m_ui.status->setText(text);
    if (m_sinceLabelPainted.isValid() && m_sinceLabelPainted.elapsed() < kLabelPaintIntervalMs) return;
    m_ui.status->repaint();
    QApplication::processEvents();
    m_sinceLabelPainted.start();
}

bool TFormList::Start(qint64 medicalType) {
    m_ui.tree->clear();
    m_forms = formlist::formsForType(medicalType, m_work.net);
    for (const formlist::FormEntry &f : m_forms) {
        auto *form = new QTreeWidgetItem(m_ui.tree, QStringList{f.text});
        form->setData(0, kNodeIdRole, f.id);
        for (const formlist::TableEntry &t : f.tables) {
            auto *table = new QTreeWidgetItem(form, QStringList{t.text});
            table->setData(0, kNodeIdRole, t.ident);
        }
    }
    if (m_ui.tree->topLevelItemCount() > 0) m_ui.tree->setCurrentItem(m_ui.tree->topLevelItem(0));
    return !m_forms.isEmpty();
}

bool TFormList::isTableNode(const QTreeWidgetItem *node) const { return node && node->parent(); }

QTreeWidgetItem *TFormList::selectedFormNode() const {
    QTreeWidgetItem *n = m_ui.tree->currentItem();
    if (!n) return nullptr;
    return n->parent() ? n->parent() : n;
}

qint64 TFormList::selectedFormId() const {
    const QTreeWidgetItem *form = selectedFormNode();
    return form ? TreeNodeId(form) : 0;
}

QString TFormList::selectedFormName() const {
    const QTreeWidgetItem *form = selectedFormNode();
    return form ? formlist::formNameOfText(form->text(0)) : QString();
}

TableWindowParams TFormList::tableOfNode(const QTreeWidgetItem *node) const {
    TableWindowParams p;
    p.formId = TreeNodeId(node->parent());
    p.tableIdent = TreeNodeId(node);
    p.tableNumber = formlist::tableNumberOfText(node->text(0));
    p.formName = formlist::formNameOfText(node->parent()->text(0));
    return p;
}

void TFormList::updateCommands() {
    QTreeWidgetItem *n = m_ui.tree->currentItem();
    const bool table = isTableNode(n);
    m_ui.table->setEnabled(table);
    m_ui.excelTablePerMember->setEnabled(table);
    m_ui.clearTable->setEnabled(table);
}

// ---- Tables ---------------------------------------------------------------------

void TFormList::openTable() {
    if (!m_ui.table->isEnabled()) return;
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n) return;
        if (n->childCount() > 0 || !n->parent()) {
            n->setExpanded(!n->isExpanded());
            return;
        }
        TVTable table(tableOfNode(n), m_work, this, this);
        table.setCaptions(n->parent()->text(0), n->text(0));
        table.setWindowTitle(windowTitle());
        table.setBreakdownVisible(m_work.mode != ReportMode::Input || m_ui.recalcForm->isVisible());
        execModal(&table);
    });
}

std::optional<TableWindowParams> TFormList::nextTable(bool forward) {
    const QList<QTreeWidgetItem *> nodes = TreeNodesInOrder(m_ui.tree);
    int i = int(nodes.indexOf(m_ui.tree->currentItem()));
    if (i < 0) return std::nullopt;
    for (i += forward ? 1 : -1; i >= 0 && i < nodes.size(); i += forward ? 1 : -1) {
        QTreeWidgetItem *n = nodes[i];
        if (!isTableNode(n)) continue;
        m_ui.tree->setCurrentItem(n);
        return tableOfNode(n);
    }
    return std::nullopt;
}

QString TFormList::currentFormText() const {
    QTreeWidgetItem *f = selectedFormNode();
    return f ? f->text(0) : QString();
}

QString TFormList::currentTableText() const {
    QTreeWidgetItem *n = m_ui.tree->currentItem();
    return isTableNode(n) ? n->text(0) : QString();
}

// ---- Controls ------------------------------------------------------------------------

void TFormList::finishControls(bool found, const QString &foundMessage) {
    m_ui.status->clear();
    m_ui.errors->setVisible(!m_controlErrors.isEmpty());
    showMessage(found ? foundMessage : QStringLiteral("Ошибок контроля нет"), this);
}

void TFormList::controlTables() {
    guarded(this, [&] {
        m_ui.errors->setVisible(false);
        QTreeWidgetItem *form = selectedFormNode();
        if (!form) return;
        RuleRun run{RuleRunContext(m_work)};
        const bool found = formlist::runFormControls(run, selectedFormId(), selectedFormName(), form->text(0),
                                                     [this](const QString &t) { setLabel(t); });
        m_controlErrors = run.errors();
        finishControls(found, QStringLiteral("Обнаружены ошибки"));
    });
}

void TFormList::controlForms() {
    guarded(this, [&] {
        m_ui.errors->setVisible(false);
        RuleRun run{RuleRunContext(m_work)};
        const bool found = formlist::runInterFormControls(run, selectedFormName(),
                                                          [this](const QString &t) { setLabel(t); });
        m_controlErrors = run.errors();
        finishControls(found, QStringLiteral("Обнаружены ошибки"));
    });
}

void TFormList::controlAll() {
    guarded(this, [&] {
        if (!m_ui.tree->currentItem()) return;
        m_ui.errors->setVisible(false);
        const auto errorsShown = qScopeGuard([this] { m_ui.errors->setVisible(!m_controlErrors.isEmpty()); });
        // On "Отмена" the errors of the previous run stay.
        RuleRun rules{RuleRunContext(m_work)};
        const bool found = [&] {
            ProgressRun run(QStringLiteral("Сплошной контроль"));
            // The label is painted with the progress window's event passes.
            return formlist::runAllControls(rules, m_forms, selectedFormName(),
                                            [this](const QString &t) { m_ui.status->setText(t); }, run.window());
        }();
        m_controlErrors = rules.errors();
        finishControls(found, QStringLiteral("Обнаружены ошибки контроля"));
    });
}

void TFormList::showControlErrors() {
    guarded(this, [&] {
        TForm1 &list = Form1();
        list.setWindowTitle(windowTitle() + QStringLiteral(" - ошибки контроля"));
        ShowTextList(m_controlErrors, QStringLiteral("Цифры\tТек.\tКонтроль"));
        execModal(&list);
    });
}

// ---- Recalculation -----------------------------------------------------------------------

// Conditions a recalculation could not read, shown once after the run.
void TFormList::showRecalcNotes(const QStringList &notes) {
    if (notes.isEmpty()) return;
    showError(UnreadableConditionsMessage(notes), this);
}

std::optional<QString> TFormList::recalculate(const QList<formlist::FormEntry> &forms, const QString &status,
                                              bool roundResult) {
    RuleRunContext context(m_work);
    context.roundResult = roundResult;
    RuleRun recalc(context);
    SummaryMembers members;
    try {
        ProgressRun run(status);
        GaugeSink gauge(m_ui.gauge, &run.window());
        // Long reads and the commit keep the window painting.
        PolledConnection polled(run.window(), db::connection(db::kData));
        // The label is painted with the progress window's event passes, not per table.
        polled.run([&] {
            members = formlist::recalculateForms(recalc, forms, [&](const QString &t) {
                m_ui.status->setText(t);
                gauge.setDetailText(t);
            }, gauge);
        });
    } catch (const NoMembersError &e) {
        showWarning(e.message(), this);
        return std::nullopt;
    }
    showRecalcNotes(recalc.messages());
    const QString note = members.unresolvedNote();
    return note.isEmpty() ? QString() : QStringLiteral("\r\n") + note;
}

void TFormList::recalculateSelectedForm() {
    guarded(this, [&] {
        QTreeWidgetItem *form = selectedFormNode();
        if (!form) return;
        const qint64 formId = TreeNodeId(form);
        const QString name = formlist::formNameOfText(form->text(0));
        if (!confirm(QStringLiteral("Персчитать все таблицы формы \"") + name + QStringLiteral("\"?"), this)) return;
        const bool round = m_work.net && confirm(QStringLiteral("Округлять результат?"), this);
        formlist::FormEntry entry{formId, name, form->text(0), {}};
        for (const formlist::FormEntry &f : m_forms)
            if (f.id == formId) entry.tables = f.tables;
        const std::optional<QString> note =
            recalculate({entry}, QStringLiteral("Пересчет формы \"") + name + QStringLiteral("\""), round);
        if (!note) return;
        showMessage(QStringLiteral("Пересчет формы закончен") + *note, this);
    });
}

void TFormList::recalculateReport() {
    guarded(this, [&] {
        if (!confirm(QStringLiteral("Персчитать ") + windowTitle() + QStringLiteral("?"), this)) return;
        const std::optional<QString> note = recalculate(m_forms, QStringLiteral("Пересчет отчета"));
        if (!note) return;
        showMessage(QStringLiteral("Пересчет отчета закончен") + *note, this);
    });
}

// ---- Clearing ---------------------------------------------------------------------------------

void TFormList::clearInstitution() {
    guarded(this, [&] {
        if (!singleTarget()) return;
        if (!confirm(QStringLiteral("Вы действительно желаете удалить ВСЮ информацию по ") + windowTitle() +
                         QStringLiteral("?"),
                     this))
            return;
        formlist::clearInstitution(m_work.institution);
        showMessage(QStringLiteral("Готово!"), this);
    });
}

void TFormList::clearForm() {
    guarded(this, [&] {
        if (!singleTarget()) return;
        QTreeWidgetItem *form = selectedFormNode();
        if (!form) return;
        if (!confirm(QStringLiteral("Вы действительно желаете удалить ВСЮ информацию из формы ") +
                         QStringLiteral("\r\n") + form->text(0) + QStringLiteral("\r\n") + windowTitle() +
                         QStringLiteral("?"),
                     this))
            return;
        formlist::clearForm(m_work.institution, TreeNodeId(form));
        showMessage(QStringLiteral("Готово!"), this);
    });
}

void TFormList::clearTable() {
    guarded(this, [&] {
        if (!singleTarget()) return;
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!isTableNode(n)) return;   // a form node carries a form id, not a table
        if (!confirm(QStringLiteral("Вы действительно желаете удалить ВСЮ информацию из таблицы ") +
                         QStringLiteral("\r\n") + n->text(0) + QStringLiteral("\r\n") + windowTitle() +
                         QStringLiteral("?"),
                     this))
            return;
        formlist::clearTable(m_work.institution, TreeNodeId(n));
        showMessage(QStringLiteral("Готово!"), this);
    });
}

// ---- Loads -------------------------------------------------------------------------------------

void TFormList::loadForm() {
    guarded(this, [&] {
        if (!singleTarget()) return;
        if (!selectedFormNode()) return;
        const SharedState &s = shared();
        QString name = m_captionDone ? m_baseCaption : windowTitle();
        const int colon = name.indexOf(QLatin1String(": "));
        if (colon >= 0) name = name.mid(colon + 2);
        const QString filter = m_work.mode == ReportMode::Input
                                   ? QStringLiteral("Информация по ЛПУ (*.orv *.orw)")
                                   : QStringLiteral("Сводные отчеты (*.rps *.rpd)");
        const QString file = dialogs().openFile(this, QStringLiteral("Подгрузить ") + selectedFormName() +
                                                          QStringLiteral(" из..."),
                                                transfer::loadDialogStart(s.yearFolder() + QStringLiteral("data/"), name),
                                                filter);
        if (file.isEmpty()) return;
        if (m_work.table == ValueTable::Data) {
            const transfer::UnitNames units;
            const QString other = transfer::otherUnitQuestion(units, m_work.institution, file);
            if (!other.isEmpty() && !confirmDefaultNo(other, this)) return;
            const QString level = transfer::levelQuestion(units, {file}, adm::levelName());
            if (!level.isEmpty() && !confirmDefaultNo(level, this)) return;
        }
        transfer::LoadResult r;
        {
            WaitCursor wait;
            r = transfer::loadForm(m_work.institution, file, m_work.table, selectedFormId(),
                                   selectedFormName());
        }
        showMessage(transfer::loadedMessage(QStringLiteral("Форма ") + selectedFormName() +
                                                QStringLiteral(" загружена из ") + QDir::toNativeSeparators(file),
                                            r),
                    this);
    });
}

void TFormList::loadTableForGroup() {
    guarded(this, [&] {
        if (!singleTarget()) return;
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!isTableNode(n)) {
            showMessage(QStringLiteral("Выберите таблицу."), this);
            return;
        }
        const QStringList files = dialogs().openFiles(this, QStringLiteral("Групповая подгрузка таблицы"),
                                                      transfer::loadDialogStart(shared().yearFolder() +
                                                                                QStringLiteral("data/")),
                                                      QStringLiteral("Данные по учреждению (*.orv *.orw)"));
        if (files.isEmpty()) return;
        if (const QString level = transfer::levelQuestion(transfer::UnitNames(), files, adm::levelName());
            !level.isEmpty() && !confirmDefaultNo(level, this))
            return;
        m_ui.status->show();
        m_ui.gauge->setMaximum(int(files.size()));
        const auto labelBack = qScopeGuard([this] { m_ui.status->clear(); });
        // The files in one transaction: "Отмена" leaves every value as before.
        const adm::GroupLoadResult r = [&] {
            ProgressRun run(QStringLiteral("Групповая подгрузка таблицы"), int(files.size()));
            return adm::loadTableFiles(files, TreeNodeId(n), [&](int i, const QString &name) {
                m_ui.gauge->setValue(i);
                setLabel(name);
                run.window().setDetailText(name);
                run.window().setPosition(i);
                run.window().checkCancelled();
            });
        }();
        showGroupLoadReport(
            this, winutil::groupLoadReport(
                      r.missingUnits, r.failures,
                      importpolicy::withNotes(
                          transfer::loadedMessage(QStringLiteral("Подгрузка информации закончена"), r.outside),
                          {r.unknown.note()})));
    });
}

// ---- Conditions files ---------------------------------------------------------------------------

static QString formNameBeforeBlank(const QTreeWidgetItem *form) {
    const QString t = form->text(0);
    const int blank = t.indexOf(QLatin1Char(' '));
    return blank >= 0 ? t.left(blank) : t;
}

void TFormList::exportFormulas() {
    if (!m_work.net) return;
    guarded(this, [&] {
        QTreeWidgetItem *form = selectedFormNode();
        if (!form) return;
        QString file = dialogs().saveFile(this, QStringLiteral("Экспорт формул расчёта"),
                                          shared().yearFolder() + selectedFormName() + QStringLiteral(".cnd"),
                                          QStringLiteral("Условия формирования Ф47 (*.cnd)"));
        if (file.isEmpty()) return;
        if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".cnd");
        formlist::exportConditions(TreeNodeId(form), formNameBeforeBlank(form), file);
        showMessage(QStringLiteral("Условия успешно экспортированы"), this);
    });
}

void TFormList::importFormulas() {
    if (!m_work.net) return;
    guarded(this, [&] {
        QTreeWidgetItem *form = selectedFormNode();
        if (!form) return;
        const QString file = dialogs().openFile(this, QStringLiteral("Импорт формул расчёта"),
                                                shared().yearFolder() + formNameBeforeBlank(form) +
                                                    QStringLiteral(".cnd"),
                                                QStringLiteral("Условия формирования Ф47 (*.cnd)"));
        if (file.isEmpty()) return;
        showMessage(formlist::importConditions(TreeNodeId(form), formNameBeforeBlank(form), file).message, this);
    });
}

// ---- Printed forms ---------------------------------------------------------------------------------

namespace {
const QString kPrintDone =
    QStringLiteral("Печать формы завершена. Если WinWord не откроется - перейдите на него с помощью Alt-Tab");
const QString kExcelDone = QStringLiteral("Передача данных в Excel завершена!");
} // namespace

void TFormList::printRough() {
    if (!m_ui.tree->currentItem()) return;
    guarded(this, [&] {
        WaitCursor wait;
        GaugeSink gauge(m_ui.gauge);
        const wordout::PrintContext c = wordout::currentContext(selectedFormId(), selectedFormName(), m_work.institution, m_work.table);
        office::WordDocument doc = wordout::FillFormDoc(c, &gauge);
        const QString file = office::saveShown(doc, c.formName + QLatin1Char(' ') + unitName());
        const QString note = wordout::templateNote(c);
        showMessage(note.isEmpty() ? kPrintDone : kPrintDone + QStringLiteral("\r\n") + note, this);
        office::showFile(file);
    });
}

void TFormList::printDebug() {
    guarded(this, [&] {
        if (!m_ui.tree->currentItem()) {
            showError(QStringLiteral("Ошибка: не выбрана форма"), this);
            return;
        }
        GaugeSink gauge(m_ui.gauge);
        const wordout::PrintContext c = wordout::currentContext(selectedFormId(), selectedFormName(), m_work.institution, m_work.table);
        wordout::DebugPrint p = wordout::DebugFormDoc(c, this, [this](const QString &t) { setLabel(t); }, &gauge);
        if (!p.document) return;
        const QString file = office::saveShown(*p.document, c.formName + QStringLiteral(" отладочная"));
        showMessage(QStringLiteral("Отладочная печать формы завершена. Если WinWord не откроется - перейдите на "
                                   "него с помощью Alt-Tab"),
                    this);
        office::showFile(file);
    });
}

void TFormList::printForReport() {
    guarded(this, [&] {
        const QString stamp = wordout::printStamp(QDateTime::currentDateTime());
        const wordout::PrintContext c = wordout::currentContext(selectedFormId(), selectedFormName(), m_work.institution, m_work.table);
        const QString unit = unitName();
        const QString copy = wordout::existingReportCopy(c, unit);
        if (!copy.isEmpty()) {
            if (wordout::reportCopyChanged(copy, c))
                showMessage(QStringLiteral("Внимание! После печати формы в нее были внесены изменения!"), this);
            office::showFile(copy);
            return;
        }
        if (execModal(&Form3()) != QDialog::Accepted) return;
        if (!m_ui.tree->currentItem()) return;
        QString path;
        {
            WaitCursor wait;
            path = wordout::makeReportCopy(c, unit, stamp);
        }
        const QString note = wordout::templateNote(c);
        showMessage(note.isEmpty() ? kPrintDone : kPrintDone + QStringLiteral("\r\n") + note, this);
        office::showFile(path);
    });
}

void TFormList::printProtocol() {
    guarded(this, [&] {
        const wordout::PrintContext c = wordout::currentContext(selectedFormId(), selectedFormName(), m_work.institution, m_work.table);
        office::WordDocument doc = wordout::buildProtocolDocument(c, unitName());
        office::show(doc, QStringLiteral("Протокол печати ") + c.formName);
    });
}

// ---- Spreadsheets ----------------------------------------------------------------------------------

// A closing message of a command over the members, with the ids that named none of them.
QString TFormList::membersNoted(const QString &done) const {
    const QString note = ResolveMembers(m_work.members, m_work.includeList, m_work.institution).unresolvedNote();
    return note.isEmpty() ? done : done + QStringLiteral("\r\n") + note;
}

excelout::FormNode TFormList::formNodeOf(const QTreeWidgetItem *form) const {
    excelout::FormNode f;
    f.text = form->text(0);
    for (int i = 0; i < form->childCount(); ++i)
        f.tables.append({TreeNodeId(form->child(i)), form->child(i)->text(0)});
    return f;
}

void TFormList::excelForm() {
    guarded(this, [&] {
        QTreeWidgetItem *form = selectedFormNode();
        if (!form) return;
        const QString unit = unitName();
        office::ExcelWorkbook book = [&] {
            WaitCursor wait;
            return excelout::ExportFormToExcel(m_work.institution, formNodeOf(form), unit, m_work.table,
                                               [this](const QString &t) { setLabel(t); });
        }();
        const QString file = office::saveShown(book, formlist::formNameOfText(form->text(0)) + QLatin1Char(' ') + unit);
        showMessage(kExcelDone, this);
        office::showFile(file);
        setLabel(QString());
    });
}

void TFormList::excelFormPerMember() {
    guarded(this, [&] {
        QTreeWidgetItem *form = selectedFormNode();
        if (!form) return;
        const QString file = dialogs().saveFile(this, QStringLiteral("Укажите папку для сохранения файлов"),
                                                shared().yearFolder() + form->text(0),
                                                QStringLiteral("Книги Excel (*.xlsx)"));
        if (file.isEmpty()) return;
        {
            ProgressRun run(QStringLiteral("Вывод в Excel"));
            excelout::exportFormPerMember(
                QFileInfo(file).absolutePath(), formNodeOf(form), m_work.includeList, m_work.members,
                [this](const QString &t) { setLabel(t); }, run.window(), [this](const QStringList &existing) {
                    return dialogs().question(this,
                                              QStringLiteral("В папке уже есть книги:\n") + existing.join(u'\n') +
                                                  QStringLiteral("\nЗаменить их?"),
                                              QStringLiteral("Вывод в Excel"));
                });
        }
        showMessage(membersNoted(kExcelDone), this);
        setLabel(QString());
    });
}

void TFormList::excelTablePerMember() {
    if (!m_ui.excelTablePerMember->isEnabled()) return;
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!isTableNode(n)) return;
        if (!shortnames::exists()) {
            if (!confirm(QStringLiteral("Отсутствует файл ShortNames.txt. Создать?"), this)) return;
            openShortNamesEditor(this);
        }
        const QStringList list = shortnames::load();
        const QString formName = formlist::formNameOfText(n->parent()->text(0));
        const auto unlabel = qScopeGuard([this] { setLabel(QString()); });
        // The workbook of many members takes seconds to save: it is saved
        // while the progress window paints, before the run is told finished.
        const QString file = [&] {
            ProgressRun run(QStringLiteral("Вывод в Excel"));
            office::ExcelWorkbook book = excelout::exportTablePerMember(
                {TreeNodeId(n), n->text(0)}, formName, m_work.includeList, m_work.members,
                [&](const QString &name) { return shortnames::GetShortName(name, list, this); },
                [this](const QString &t) { setLabel(t); }, run.window());
            QString saved;
            run.runWhilePainting(QStringLiteral("Сохранение книги Excel"), [&] {
                saved = office::saveShown(book, formName + QLatin1Char(' ') + formlist::tableNumberOfText(n->text(0)));
            });
            return saved;
        }();
        showMessage(membersNoted(kExcelDone), this);
        office::showFile(file);
        setLabel(QString());
    });
}

void TFormList::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QTreeWidgetItem *n = m_ui.tree->currentItem()) {
            if (n->childCount() > 0) n->setExpanded(!n->isExpanded());
            else openTable();
        }
        return;
    case Qt::Key_F2:
        exportFormulas();
        return;
    case Qt::Key_F3:
        importFormulas();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

// ---- Group load reports ------------------------------------------------------------------------

void showGroupLoadReport(QWidget *parent, const winutil::GroupLoadReport &report) {
    for (const QString &text : report.notFound) showMessage(text, parent);
    if (!report.refused.isEmpty()) showError(report.refused, parent);
    showMessage(report.closing, parent);
    if (report.skipped.isEmpty()) return;
    TForm1 &list = Form1();
    list.setWindowTitle(QString());
    ShowTextList(report.skipped, report.skippedHeader);
    execModal(&list);
}

// ---- Openers ---------------------------------------------------------------------------------------

void TFormList::offerRecalculation(bool report) {
    m_ui.recalcForm->setVisible(true);
    m_ui.recalcReport->setVisible(report);
}

void TFormList::hideClearing() { m_ui.clearMenu->menuAction()->setVisible(false); }

bool TFormList::singleTarget() const { return m_singleTarget; }

void TFormList::hideSingleTargetCommands() {
    m_singleTarget = false;
    m_ui.loadForm->setVisible(false);
    m_ui.groupLoad->setVisible(false);
    hideClearing();
}

void openFormsTreeForInstitution(QWidget *parent, const WorkContext &work, qint64 institutionId,
                                 const QString &caption) {
    WorkContext own = work;
    own.institution = institutionId;
    const qint64 type = adm::medicalTypeOf(institutionId);
    TFormList w(own, parent, caption);
    w.setWindowTitle(caption);
    w.Start(type);
    execModal(&w);
}

void openFormsTreeForSummary(QWidget *parent, const WorkContext &work, qint64 unitId, const QString &caption,
                             const QString &includeList) {
    if (includeList.isEmpty()) return;
    WorkContext own = work;
    own.includeList = includeList;
    own.members = MemberKind::Institutions;
    own.table = ValueTable::Data;
    own.institution = unitId;
    TFormList w(own, parent, caption);
    w.setWindowTitle(caption + QStringLiteral(" - свод"));
    w.offerRecalculation(true);
    w.hideSingleTargetCommands();
    w.Start(-1);
    execModal(&w);
}

void openFormsTreeForNetwork(QWidget *parent, const WorkContext &work, qint64 unitId, const QString &caption,
                             const QString &includeList) {
    if (includeList.isEmpty()) return;
    WorkContext own = work;
    own.includeList = includeList;
    own.members = MemberKind::Institutions;
    own.net = true;
    own.table = ValueTable::Data;
    own.institution = unitId;
    TFormList w(own, parent, caption);
    w.setWindowTitle(caption);
    w.offerRecalculation(false);
    w.Start(-1);
    execModal(&w);
}

void openFormsTreeForTypes(QWidget *parent, const WorkContext &work, const QString &caption) {
    WorkContext own = work;
    own.table = ValueTable::Data;
    own.institution = 0;   // many institutions: no single target
    TFormList w(own, parent);
    w.hideSingleTargetCommands();
    w.Start(-1);
    w.setWindowTitle(caption);
    execModal(&w);
}

void openFormsTreeForReport(QWidget *parent, const WorkContext &work, qint64 reportId, const QString &caption,
                            const QString &includeList, MemberKind members) {
    WorkContext own = work;
    own.includeList = includeList;
    own.members = members;
    own.institution = reportId;
    own.table = ValueTable::RepData;
    TFormList w(own, parent);
    w.setWindowTitle(caption);
    w.offerRecalculation(!own.net);
    w.hideClearing();
    w.Start(-1);
    execModal(&w);
}
