#include "forms/territory/AdmForm.h"

#include "core/AdminMode.h"
#include "core/ListWindow.h"
#include "core/ProgressWindow.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "core/TreeMarking.h"
#include "forms/tree/FormList.h"
#include "forms/shared/FormListCommon.h"
#include "forms/territory/PresenceReport.h"
#include "forms/output/ShortNames.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "widgets/WindowLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

using winutil::appTitle;
using winutil::guarded;

// The main window's caption (the application title while there is none).
QString mainWindowCaption() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow *>(w) && !w->windowTitle().isEmpty()) return w->windowTitle();
    return appTitle();
}

// The progress box of loads and unloads, shown for the length of a command.
class ProgressShown {
public:
    ProgressShown(QGroupBox *box, QLabel *name) : m_box(box), m_name(name) { box->show(); }
    ~ProgressShown() {
        m_name->clear();
        m_box->hide();
    }
private:
    QGroupBox *m_box;
    QLabel *m_name;
};

} // namespace

// ---- Tree with drops ---------------------------------------------------------

TAdmTree::TAdmTree(QWidget *parent) : QTreeWidget(parent) {
    winutil::setupTree(this);
    setDragDropMode(QAbstractItemView::NoDragDrop);
}

TreeDropPlace TAdmTree::dropPlaceAt(const QPoint &pos, QTreeWidgetItem **target) const {
    QTreeWidgetItem *item = itemAt(pos);
    *target = item;
    if (!item) return TreeDropPlace::Empty;
    const QRect r = visualItemRect(item);
    return pos.x() < r.left() ? TreeDropPlace::Indent : TreeDropPlace::Label;
}

bool TAdmTree::dropCurrentAt(const QPoint &pos) {
    QTreeWidgetItem *target = nullptr;
    const TreeDropPlace place = dropPlaceAt(pos, &target);
    return MoveTreeNode(this, currentItem(), target, place, adm::moveUnit);
}

void TAdmTree::dropEvent(QDropEvent *event) {
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    if (event->source() != this) return;
    guarded(this, [&] {
        if (!dropCurrentAt(event->position().toPoint()))
            showMessage(QStringLiteral("Подразделение нельзя перенести внутрь самого себя."), this);
    });
}

// ---- Territory window --------------------------------------------------------

TAdmForm::TAdmForm(Mode mode, const WorkContext &work, QWidget *parent)
    : QDialog(parent), m_mode(mode), m_work(work) {
    setObjectName(QStringLiteral("AdmForm"));
    setWindowTitle(appTitle() + QStringLiteral(" Административная структура") +
                   (mode == Mode::Input ? QStringLiteral(" - ввод информации") : QStringLiteral(" - формирование")));
    setWindowState(Qt::WindowMaximized);
    winutil::fitToScreen(this, QSize(900, 650));

    buildMenu();
    buildPanels();
    showCommandsOfMode();
    RegisterAdminForm(this);
}

// "Добавить" ... "Выход": the structure commands, transfer files, reports and the openers of forms trees.
void TAdmForm::buildMenu() {
    m_ui.menu = new QMenuBar(this);
    QMenuBar *menu = m_ui.menu;
    m_ui.add = menu->addAction(QStringLiteral("Добавить"), this, &TAdmForm::addUnit);
    m_ui.insert = menu->addAction(QStringLiteral("Вставить"), this, &TAdmForm::insertUnit);
    m_ui.remove = menu->addAction(QStringLiteral("Удалить"), this, &TAdmForm::removeUnit);
    m_ui.edit = menu->addAction(QStringLiteral("Корректировать"), this, &TAdmForm::editUnit);
    m_ui.unloadMenu = menu->addMenu(QStringLiteral("Выгрузить"));
    m_ui.unloadGroup = m_ui.unloadMenu->addAction(QStringLiteral("Группу"), this, &TAdmForm::unloadGroup);
    m_ui.unloadOne = m_ui.unloadMenu->addAction(QStringLiteral("Одно учреждение"), this, &TAdmForm::unloadInstitution);
    m_ui.loadMenu = menu->addMenu(QStringLiteral("Подгрузить"));
    m_ui.loadGroup = m_ui.loadMenu->addAction(QStringLiteral("Группу"), this, &TAdmForm::loadGroup);
    m_ui.loadOne = m_ui.loadMenu->addAction(QStringLiteral("Одно учреждение"), this, &TAdmForm::loadInstitution);
    m_ui.loadMenu->addSeparator();
    m_ui.chooseForms = m_ui.loadMenu->addAction(QStringLiteral("Выбор форм"), this, &TAdmForm::chooseLoadForms);
    m_ui.reportMenu = menu->addMenu(QStringLiteral("Справка"));
    m_ui.reportDatabase = m_ui.reportMenu->addAction(QStringLiteral("По базе"), this, &TAdmForm::reportByDatabase);
    m_ui.reportFiles =
        m_ui.reportMenu->addAction(QStringLiteral("По входным файлам"), this, &TAdmForm::reportByFiles);
    m_ui.ordering = menu->addAction(QStringLiteral("Структура"), this, &TAdmForm::toggleOrdering);
    m_ui.ordering->setCheckable(true);
    m_ui.forms = menu->addAction(QStringLiteral("Формы"), this, &TAdmForm::openForms);
    m_ui.summary = menu->addAction(QStringLiteral("Свод"), this, &TAdmForm::openSummary);
    m_ui.network = menu->addAction(QStringLiteral("Ф47"), this, &TAdmForm::openNetworkForms);
    m_ui.shortNames = menu->addAction(QStringLiteral("Короткие названия"), this, &TAdmForm::editShortNames);
    m_ui.exit = menu->addAction(QStringLiteral("Выход"), this, &QDialog::reject);
}

// The panel of the forms of group loads, the progress box and the tree under them.
void TAdmForm::buildPanels() {
    m_ui.choicePanel = new QWidget(this);
    auto *panel = new QHBoxLayout(m_ui.choicePanel);
    panel->setContentsMargins(5, 2, 5, 2);
    m_ui.chosenCaption = new QLabel(QStringLiteral("Выбранные формы"), m_ui.choicePanel);
    m_ui.chosenForms = new QLabel(QStringLiteral("Все"), m_ui.choicePanel);
    m_ui.clearCaption = new QLabel(QStringLiteral("Очищать"), m_ui.choicePanel);
    m_ui.clearWhat = new QComboBox(m_ui.choicePanel);
    m_ui.clearWhat->addItems({QStringLiteral("ЛПУ"), QStringLiteral("Выбранные формы")});
    panel->addWidget(m_ui.chosenCaption);
    panel->addWidget(m_ui.chosenForms, 1);
    panel->addWidget(m_ui.clearCaption);
    panel->addWidget(m_ui.clearWhat);

    m_ui.progress = new QGroupBox(this);
    auto *gl = new QVBoxLayout(m_ui.progress);
    m_ui.progressName = new QLabel(m_ui.progress);
    m_ui.progressName->setAlignment(Qt::AlignCenter);
    m_ui.filesGauge = new QProgressBar(m_ui.progress);
    m_ui.rowsGauge = new QProgressBar(m_ui.progress);
    gl->addWidget(m_ui.progressName);
    gl->addWidget(m_ui.filesGauge);
    gl->addWidget(m_ui.rowsGauge);
    m_ui.progress->hide();

    m_ui.tree = new TAdmTree(this);
    m_ui.tree->setObjectName(QStringLiteral("TreeView1"));
    connect(m_ui.tree, &QTreeWidget::currentItemChanged, this, &TAdmForm::updateCommands);
    connect(m_ui.tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *, int) { openForms(); });

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(m_ui.menu);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addWidget(m_ui.choicePanel);
    layout->addWidget(m_ui.progress);
    layout->addWidget(m_ui.tree, 1);
}

// Input shows the transfer files, reports and openers; structure the editing.
void TAdmForm::showCommandsOfMode() {
    const bool input = m_mode == Mode::Input;
    m_ui.add->setVisible(!input);
    m_ui.insert->setVisible(!input);
    m_ui.remove->setVisible(!input);
    m_ui.edit->setVisible(!input);
    m_ui.unloadMenu->menuAction()->setVisible(input);
    m_ui.loadMenu->menuAction()->setVisible(input);
    m_ui.reportMenu->menuAction()->setVisible(input);
    m_ui.choicePanel->setVisible(input);
    m_ui.ordering->setVisible(false);
    m_ui.forms->setVisible(input);
    m_ui.summary->setVisible(input);
    m_ui.network->setVisible(input);
    m_ui.shortNames->setVisible(false);
}

void TAdmForm::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!m_built) guarded(this, [&] { FormActivate(); });
}

void TAdmForm::FormActivate() {
    m_built = true;
    m_ui.tree->clear();
    FillAdminTree(m_ui.tree, 0);
    if (QTreeWidgetItem *first = m_ui.tree->topLevelItem(0)) {
        m_ui.tree->setCurrentItem(first);
        first->setExpanded(true);
    }
    updateCommands();
    if (m_mode == Mode::Input) {
        m_ui.chosenForms->setText(QStringLiteral("Все"));
        shared().GroupLoadForms.clear();
        m_ui.clearWhat->setCurrentIndex(0);
        m_ui.clearWhat->setEnabled(false);
    }
}

void TAdmForm::updateCommands() {
    QTreeWidgetItem *n = m_ui.tree->currentItem();
    const bool leaf = n && n->childCount() == 0;
    const bool branch = n && n->childCount() > 0;
    m_ui.remove->setEnabled(leaf);
    m_ui.loadOne->setEnabled(leaf);
    m_ui.unloadOne->setEnabled(leaf);
    m_ui.forms->setEnabled(leaf);
    m_ui.summary->setEnabled(branch);
    m_ui.network->setEnabled(branch);
    m_ui.unloadGroup->setEnabled(branch);
    m_ui.edit->setEnabled(n != nullptr && !m_ui.ordering->isChecked());
}

QString TAdmForm::SelectedLeafIds() const {
    return text::joinIdList(TreeLeafIds(m_ui.tree->currentItem()));
}

QString TAdmForm::dataFolder() const { return shared().yearFolder() + QStringLiteral("data/"); }

bool TAdmForm::clearChosenOnly() const { return m_ui.clearWhat->isEnabled() && m_ui.clearWhat->currentIndex() == 1; }

void TAdmForm::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_F11:
        m_ui.ordering->setVisible(!m_ui.ordering->isVisible());
        return;
    case Qt::Key_F9:
        m_ui.shortNames->setVisible(!m_ui.shortNames->isVisible());
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QTreeWidgetItem *n = m_ui.tree->currentItem()) {
            if (n->childCount() > 0) n->setExpanded(!n->isExpanded());
            else openForms();
        }
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

// ---- Structure editing ---------------------------------------------------------

void TAdmForm::addUnitUnder(qint64 parentId, QTreeWidgetItem *parentNode, const QString &caption) {
    TUntChar dlg(this);
    dlg.setWindowTitle(caption);
    dlg.setTypes(adm::medTypes());
    dlg.setPopulationSource(0, shared().Year);
    if (execModal(&dlg) != QDialog::Accepted) return;
    const adm::UnitInfo unit = dlg.unit();
    std::optional<adm::Population> population;
    if (dlg.populationTouched()) population = dlg.population();
    const qint64 id = adm::addUnit(parentId, unit, population, shared().Year);
    auto *item = new QTreeWidgetItem(QStringList{unit.name.trimmed()});
    item->setData(0, kNodeIdRole, id);
    if (parentNode) parentNode->addChild(item);
    else m_ui.tree->addTopLevelItem(item);
    updateCommands();
}

void TAdmForm::addUnit() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        QTreeWidgetItem *parent = n ? n->parent() : nullptr;
        addUnitUnder(parent ? TreeNodeId(parent) : 0, parent, QStringLiteral("Добавление подразделения"));
    });
}

void TAdmForm::insertUnit() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n) return;
        addUnitUnder(TreeNodeId(n), n, QStringLiteral("Вставка подразделения"));
    });
}

void TAdmForm::removeUnit() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n || n->childCount() > 0) return;
        if (!confirm(QStringLiteral("Вы действительно хотите удалить ") + n->text(0) +
                         QStringLiteral(" со всей информацией?"),
                     this))
            return;
        const QStringList reports = adm::deleteUnit(TreeNodeId(n), shared().Year);
        delete n;
        updateCommands();
        if (!reports.isEmpty())
            showMessage(QStringLiteral("Подразделение исключено из входящих учреждений отчетов: ") +
                            reports.join(QStringLiteral(", ")),
                        this);
    });
}

void TAdmForm::editUnit() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n) return;
        const qint64 id = TreeNodeId(n);
        TUntChar dlg(this);
        dlg.setWindowTitle(QStringLiteral("Корректировка подразделения"));
        dlg.setTypes(adm::medTypes());
        dlg.setUnit(adm::readUnit(id));
        dlg.setPopulationSource(id, shared().Year, n->childCount() > 0 ? adm::childIds(id) : QList<qint64>{});
        dlg.setPopulation(adm::readPopulation(id, shared().Year));
        if (execModal(&dlg) != QDialog::Accepted) return;
        const adm::UnitInfo unit = dlg.unit();
        std::optional<adm::Population> population;
        if (dlg.populationTouched()) population = dlg.population();
        adm::saveUnit(id, unit, population, shared().Year);
        n->setText(0, unit.name.trimmed());
    });
}

void TAdmForm::toggleOrdering() {
    guarded(this, [&] {
        // "Структура" is checkable: Qt has already flipped the mark.
        const bool on = m_ui.ordering->isChecked();
        if (!on) {
            try {
                adm::saveOrder(TreeUnitNodes(m_ui.tree));
            } catch (...) {
                m_ui.ordering->setChecked(true);
                throw;
            }
        }
        m_ui.add->setEnabled(!on);
        m_ui.insert->setEnabled(!on);
        m_ui.edit->setEnabled(!on && m_ui.tree->currentItem());
        m_ui.loadGroup->setEnabled(!on);
        m_ui.unloadMenu->setEnabled(!on);
        m_ui.tree->setDragEnabled(on);
        m_ui.tree->setAcceptDrops(on);
        m_ui.tree->setDragDropMode(on ? QAbstractItemView::InternalMove : QAbstractItemView::NoDragDrop);
    });
}

// ---- Opening the forms tree -----------------------------------------------------

void TAdmForm::openForms() {
    if (!m_ui.forms->isVisible()) return;   // a double click on a territory node leads to its first institution
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n) return;
        while (n->childCount() > 0) n = n->child(0);
        m_ui.tree->setCurrentItem(n);
        openFormsTreeForInstitution(this, m_work, TreeNodeId(n), n->text(0));
    });
}

void TAdmForm::openSummary() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n) return;
        const QString leaves = SelectedLeafIds();
        if (leaves.isEmpty()) return;
        openFormsTreeForSummary(this, m_work, TreeNodeId(n), n->text(0), leaves);
    });
}

void TAdmForm::openNetworkForms() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n) return;
        const QString leaves = SelectedLeafIds();
        if (leaves.isEmpty()) return;
        openFormsTreeForNetwork(this, m_work, TreeNodeId(n), n->text(0), leaves);
    });
}

// ---- Transfer files ---------------------------------------------------------------

void TAdmForm::unloadInstitution() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n || n->childCount() > 0) return;
        if (!transfer::hasValuesToWrite(ValueTable::Data, TreeNodeId(n), shared().Year)) {
            showMessage(transfer::nothingToWriteMessage(n->text(0), shared().Year), this);
            return;
        }
        paths::makePath(dataFolder());
        const QString year = shared().yearText();
        QString file = dialogs().saveFile(this, QStringLiteral("Выгрузить"),
                                          dataFolder() + transfer::unitFileNameOfStem(transfer::unitStemOfNode(TreeUnitBranch(n)),
                                                                                      adm::levelName(), shared().Year),
                                          QStringLiteral("Данные по учреждениям (*.orw)"));
        if (file.isEmpty()) return;
        if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".orw");
        const transfer::WriteResult w = transfer::SaveHosp(TreeNodeId(n), file);
        QString msg = QStringLiteral("Данные по ") + n->text(0) + QStringLiteral(" за ") + year +
                      QStringLiteral(" год выгружены в файл ") + QDir::toNativeSeparators(file);
        if (w.skipped > 0)
            msg += QStringLiteral("\nНе выгружено значений таблиц, которых больше нет в перечне форм: %1")
                       .arg(w.skipped);
        showMessage(msg, this);
    });
}

void TAdmForm::unloadGroup() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n) return;
        const ProgressShown shown(m_ui.progress, m_ui.progressName);
        // The gauge counts the institutions' files.
        int leaves = 0;
        const std::function<void(const QTreeWidgetItem *)> count = [&](const QTreeWidgetItem *node) {
            if (node->childCount() == 0) ++leaves;
            for (int i = 0; i < node->childCount(); ++i) count(node->child(i));
        };
        count(n);
        const transfer::TreeWriteResult r = [&] {
            ProgressRun run(QStringLiteral("Выгрузка"), std::max(1, leaves));
            int done = 0;
            return transfer::SaveHospTree(TreeUnitBranch(n), dataFolder(), adm::levelName(), shared().Year, [&](const QString &t) {
                m_ui.progressName->setText(t);
                run.window().setDetailText(t);
                run.window().setPosition(done++);
                run.window().checkCancelled();
            }, [&] { run.window().setPosition(done); });   // every file written: no stopping now
        }();
        // Where the files went, so that they can be found and sent: the
        // folder that holds them all.
        QString folder = r.writtenFiles.isEmpty() ? dataFolder() : QFileInfo(r.writtenFiles.first()).absolutePath();
        for (const QString &f : r.writtenFiles)
            while (!paths::withSlash(QFileInfo(f).absolutePath()).startsWith(paths::withSlash(folder)) &&
                   folder.size() > 1)
                folder = QFileInfo(paths::withoutSlash(folder)).absolutePath();
        QString msg = QStringLiteral("Выгрузка закончена. Файлов: %1, папка %2")
                          .arg(r.files)
                          .arg(QDir::toNativeSeparators(paths::withoutSlash(folder)));
        if (r.skippedValues > 0)
            msg += QStringLiteral("\nНе выгружено значений таблиц, которых больше нет в перечне форм: %1")
                       .arg(r.skippedValues);
        msg += transfer::withoutValuesNote(r);
        showMessage(msg, this);
    });
}

void TAdmForm::loadInstitution() {
    guarded(this, [&] {
        QTreeWidgetItem *n = m_ui.tree->currentItem();
        if (!n || n->childCount() > 0) return;
        // In the folder the unload of the same window writes into, proposing
        // the file it writes when that is there.
        const QString stem = transfer::unitStemOfNode(TreeUnitBranch(n));
        const QString unloaded = transfer::unitFileNameOfStem(stem, adm::levelName(), shared().Year);
        const QString file = dialogs().openFile(
            this, QStringLiteral("Подгрузить"),
            transfer::loadDialogStart(dataFolder(), QFileInfo::exists(dataFolder() + unloaded) ? unloaded : stem),
            QStringLiteral("Информация по ЛПУ (*.orv *.orw)"));
        if (file.isEmpty()) return;
        {
            // A file named for another institution or another level is loaded only when the user says so.
            const transfer::UnitNames units;
            const QString other = transfer::otherUnitQuestion(units, TreeNodeId(n), file);
            if (!other.isEmpty() && !confirmDefaultNo(other, this)) return;
            const QString level = transfer::levelQuestion(units, {file}, adm::levelName());
            if (!level.isEmpty() && !confirmDefaultNo(level, this)) return;
        }
        // The file stands for the institution's year: forms it has no line of are emptied, said first.
        const QString emptied = transfer::emptiedFormsQuestion(
            {{n->text(0), transfer::formsEmptiedByUnitLoad(TreeNodeId(n), file, shared().GroupLoadForms, clearChosenOnly())}},
            shared().Year);
        if (!emptied.isEmpty() && !confirmDefaultNo(emptied, this)) return;
        const ProgressShown shown(m_ui.progress, m_ui.progressName);
        m_ui.progressName->setText(n->text(0));
        const transfer::LoadResult r =
            transfer::LoadUnitInfo(TreeNodeId(n), file, shared().GroupLoadForms, clearChosenOnly(),
                                   [&](int done, int total) {
                                       m_ui.rowsGauge->setMaximum(total);
                                       m_ui.rowsGauge->setValue(done);
                                   });
        showMessage(importpolicy::withNotes(transfer::loadedMessage(QStringLiteral("Данные по ") + n->text(0) +
                                                                        QStringLiteral(" загружены из файла"),
                                                                    r),
                                            {transfer::emptiedFormsNote({{n->text(0), r.emptiedForms}})}),
                    this);
    });
}

namespace {
// How often the second gauge of a group load moves.
constexpr int kPaintIntervalMs = 50;
} // namespace

void TAdmForm::loadGroup() {
    guarded(this, [&] {
        const QStringList files = dialogs().openFiles(this, QStringLiteral("Подгрузить"),
                                                      transfer::loadDialogStart(dataFolder()),
                                                      QStringLiteral("Информация по ЛПУ (*.orv *.orw)"));
        if (files.isEmpty()) return;
        if (const QString level = transfer::levelQuestion(transfer::UnitNames(), files, adm::levelName());
            !level.isEmpty() && !confirmDefaultNo(level, this))
            return;
        // Every file is read before the question: the window paints and
        // answers "Отмена" meanwhile.
        adm::EmptiedOfUnit emptiedOfUnit;
        const QList<transfer::Emptied> emptiedForms = [&] {
            ProgressRun run(QStringLiteral("Подгрузка информации"), int(files.size()));
            return adm::formsEmptiedByUnitFiles(files, shared().GroupLoadForms, clearChosenOnly(),
                                                [&](int i, const QString &name) {
                                                    run.window().setDetailText(name);
                                                    run.window().setPosition(i);
                                                    run.window().checkCancelled();
                                                },
                                                &emptiedOfUnit);
        }();
        if (const QString emptied = transfer::emptiedFormsQuestion(emptiedForms, shared().Year);
            !emptied.isEmpty() && !confirmDefaultNo(emptied, this))
            return;
        const ProgressShown shown(m_ui.progress, m_ui.progressName);
        m_ui.filesGauge->setMaximum(int(files.size()));
        // The files in one transaction: "Отмена" leaves every value as before.
        const adm::GroupLoadResult r = [&] {
            ProgressRun run(QStringLiteral("Подгрузка информации"), int(files.size()));
            // The window paints and answers "Отмена" between files, between
            // the rows of a file (the second gauge moves by time, not by
            // row), inside long statements and while the group is committed
            // or rolled back.
            PolledConnection polled(run.window(), db::connection(db::kData));
            QElapsedTimer paced;
            paced.start();
            return polled.run([&] {
                return adm::loadUnitFiles(
                    files, shared().GroupLoadForms, clearChosenOnly(),
                    [&](int i, const QString &name) {
                        m_ui.filesGauge->setValue(i);
                        m_ui.progressName->setText(name);
                        run.window().setDetailText(name);
                        run.window().setPosition(i);
                        run.window().checkCancelled();
                    },
                    [&](int done, int total) {
                        if (done != total && paced.elapsed() < kPaintIntervalMs) return;
                        paced.restart();
                        m_ui.rowsGauge->setMaximum(total);
                        m_ui.rowsGauge->setValue(done);
                        run.window().setPosition(run.window().position());   // lets the events run
                        run.window().checkCancelled();
                    },
                    &emptiedOfUnit);
            });
        }();
        showGroupLoadReport(
            this, winutil::groupLoadReport(
                      r.missingUnits, r.failures,
                      importpolicy::withNotes(
                          transfer::loadedMessage(QStringLiteral("Подгрузка информации закончена"), r.outside),
                          {r.unknown.note(), transfer::otherTypeNote(r.otherType),
                           transfer::emptiedFormsNote(r.emptied)})));
    });
}

// ---- Presence reports --------------------------------------------------------------

void TAdmForm::showPresenceList(const StringList &lines) {
    if (lines.isEmpty()) return;
    TForm1 &list = Form1();
    list.setWindowTitle(presence::listCaption());
    list.setHeading(presence::listHeading(mainWindowCaption()));
    ShowTextList(lines, presence::listHeader());
    execModal(&list);
}

void TAdmForm::reportByDatabase() {
    guarded(this, [&] {
        QTreeWidgetItem *top = m_ui.tree->currentItem();
        if (!top) return;
        QList<presence::UnitNode> nodes;
        const std::function<void(QTreeWidgetItem *)> walk = [&](QTreeWidgetItem *n) {
            nodes.append({n->text(0), TreeNodeId(n), n->childCount() == 0});
            for (int i = 0; i < n->childCount(); ++i) walk(n->child(i));
        };
        walk(top);
        StringList lines;
        {
            const winutil::WaitCursor wait;
            const ProgressShown shown(m_ui.progress, m_ui.progressName);
            m_ui.filesGauge->setMaximum(std::max(1, int(nodes.size())));
            int i = 0;
            lines = presence::reportByDatabase(nodes, [&](const QString &name) {
                m_ui.progressName->setText(name);
                m_ui.filesGauge->setValue(++i);
                QApplication::processEvents();
            });
        }
        showPresenceList(lines);
    });
}

void TAdmForm::reportByFiles() {
    guarded(this, [&] {
        const QStringList files = dialogs().openFiles(this, QStringLiteral("Справка по входным файлам"),
                                                      transfer::loadDialogStart(dataFolder()),
                                                      QStringLiteral("Информация по ЛПУ (*.orv *.orw)"));
        if (files.isEmpty()) return;
        StringList lines;
        {
            const ProgressShown shown(m_ui.progress, m_ui.progressName);
            m_ui.filesGauge->setMaximum(int(files.size()));
            m_ui.filesGauge->setValue(0);
            lines = presence::reportByFiles(
                files,
                [&](const QString &name) {
                    m_ui.progressName->setText(name);
                    QApplication::processEvents();
                },
                [&](int done) { m_ui.filesGauge->setValue(done); });
        }
        showPresenceList(lines);
    });
}

void TAdmForm::editShortNames() {
    guarded(this, [&] { openShortNamesEditor(this); });
}

void TAdmForm::chooseLoadForms() {
    guarded(this, [&] {
        TSFLF dlg(shared().GroupLoadForms, this);
        const std::optional<QString> choice = dlg.choose();
        if (!choice) return;
        shared().GroupLoadForms = *choice;
        const QString &chosen = shared().GroupLoadForms;
        m_ui.chosenForms->setText(chosen.isEmpty() ? QStringLiteral("Все") : chosen);
        m_ui.clearWhat->setEnabled(!chosen.isEmpty());
    });
}

// ---- Unit dialog ---------------------------------------------------------------------

TUntChar::TUntChar(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("UntChar"));
    m_ui.name = new QLineEdit(this);
    m_ui.type = new QComboBox(this);
    m_ui.rural = new QCheckBox(QStringLiteral("Сельская местность"), this);
    auto makeEdit = [this] {
        auto *e = new QLineEdit(this);
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,8}")), e));
        e->setMaxLength(8);
        return e;
    };
    m_ui.total = makeEdit();
    m_ui.adults = makeEdit();
    m_ui.teens = makeEdit();
    m_ui.children = makeEdit();
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.cancel = new QPushButton(QStringLiteral("Отказ"), this);
    m_ui.count = new QPushButton(QStringLiteral("Подсчитать"), this);
    m_ui.restore = new QPushButton(QStringLiteral("Восстановить"), this);
    m_ui.count->hide();
    m_ui.restore->hide();
    m_ui.ok->setDefault(true);
    m_ui.name->setMinimumWidth(320);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Наименование подразделения"), m_ui.name);
    form->addRow(QStringLiteral("Тип"), m_ui.type);
    form->addRow(QString(), m_ui.rural);
    auto *pop = new QGroupBox(QStringLiteral("Численность населения"), this);
    auto *pf = new QFormLayout(pop);
    pf->addRow(QStringLiteral("Всего"), m_ui.total);
    pf->addRow(QStringLiteral("Взрослые"), m_ui.adults);
    pf->addRow(QStringLiteral("Подростки"), m_ui.teens);
    pf->addRow(QStringLiteral("Дети"), m_ui.children);
    auto *popButtons = new QHBoxLayout;
    popButtons->addWidget(m_ui.count);
    popButtons->addWidget(m_ui.restore);
    pf->addRow(popButtons);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ui.ok);
    buttons->addWidget(m_ui.cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(pop);
    layout->addLayout(buttons);

    connect(m_ui.ok, &QPushButton::clicked, this, &TUntChar::accept);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.count, &QPushButton::clicked, this, &TUntChar::countPopulation);
    connect(m_ui.restore, &QPushButton::clicked, this, &TUntChar::restorePopulation);
}

void TUntChar::setTypes(const QList<QPair<QString, qint64>> &types) {
    m_ui.type->clear();
    for (const auto &t : types) m_ui.type->addItem(t.first, t.second);
    m_ui.type->setCurrentIndex(-1);
}

void TUntChar::setUnit(const adm::UnitInfo &unit) {
    m_ui.name->setText(unit.name);
    m_ui.type->setCurrentIndex(m_ui.type->findData(unit.medicalType));
    m_ui.rural->setChecked(unit.country);
}

adm::UnitInfo TUntChar::unit() const {
    adm::UnitInfo u;
    u.name = m_ui.name->text();
    u.medicalType = m_ui.type->currentIndex() >= 0 ? m_ui.type->currentData().toLongLong() : -1;
    u.country = m_ui.rural->isChecked();
    return u;
}

void TUntChar::setPopulation(const std::optional<adm::Population> &p) {
    const adm::Population v = p.value_or(adm::Population{});
    m_ui.total->setText(v.common);
    m_ui.adults->setText(v.olds);
    m_ui.teens->setText(v.teens);
    m_ui.children->setText(v.childs);
    for (QLineEdit *e : {m_ui.total, m_ui.adults, m_ui.teens, m_ui.children}) e->setModified(false);
}

adm::Population TUntChar::population() const {
    return adm::Population{m_ui.total->text(), m_ui.adults->text(), m_ui.teens->text(), m_ui.children->text()};
}

void TUntChar::setPopulationSource(qint64 unitId, int year, const QList<qint64> &childIds) {
    m_unitId = unitId;
    m_year = year;
    m_childIds = childIds;
    m_ui.count->setVisible(!childIds.isEmpty());
}

bool TUntChar::populationTouched() const {
    return m_counted || m_ui.total->isModified() || m_ui.adults->isModified() || m_ui.teens->isModified() ||
           m_ui.children->isModified();
}

void TUntChar::countPopulation() {
    guarded(this, [&] {
        const adm::Population p = adm::sumPopulation(m_childIds, m_year);
        m_ui.total->setText(p.common);
        m_ui.adults->setText(p.olds);
        m_ui.teens->setText(p.teens);
        m_ui.children->setText(p.childs);
        m_ui.restore->show();
        m_counted = true;
    });
}

void TUntChar::restorePopulation() {
    guarded(this, [&] {
        setPopulation(adm::readPopulation(m_unitId, m_year));
        m_ui.restore->show();
        m_counted = true;
    });
}

void TUntChar::accept() {
    QString why = adm::checkUnit(unit());
    if (why.isEmpty() && populationTouched()) why = adm::checkPopulation(population());
    if (!why.isEmpty()) {
        showMessage(why, this);
        return;
    }
    QDialog::accept();
}

// ---- Form choice -----------------------------------------------------------------------

TSFLF::TSFLF(const QString &chosen, QWidget *parent) : QDialog(parent), m_chosen(chosen) {
    setObjectName(QStringLiteral("SFLF"));
    setWindowTitle(QStringLiteral("Выбор форм для групповой загрузки"));
    winutil::fitToScreen(this, QSize(520, 380));
    m_ui.list = new QListWidget(this);
    m_ui.all = new QCheckBox(QStringLiteral("Выбрать все"), this);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.cancel = new QPushButton(QStringLiteral("Отказ"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_ui.all);
    buttons->addStretch();
    buttons->addWidget(m_ui.ok);
    buttons->addWidget(m_ui.cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_ui.list, 1);
    layout->addLayout(buttons);
    connect(m_ui.ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.all, &QCheckBox::toggled, this, [this](bool on) {
        for (int i = 0; i < m_ui.list->count(); ++i)
            m_ui.list->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    });
}

std::optional<QString> TSFLF::choose() {
    m_ui.list->clear();
    const QList<bool> ticks = adm::formChoiceTicks(m_chosen);
    const QList<CachedForm> &forms = shared().Caches.forms;
    for (int i = 0; i < forms.size(); ++i) {
        auto *item = new QListWidgetItem(forms[i].caption(), m_ui.list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ticks.value(i) ? Qt::Checked : Qt::Unchecked);
    }
    if (execModal(this) != QDialog::Accepted) return std::nullopt;
    QList<bool> chosen;
    for (int i = 0; i < m_ui.list->count(); ++i) chosen.append(m_ui.list->item(i)->checkState() == Qt::Checked);
    m_chosen = adm::formChoiceResult(chosen, m_ui.all->isChecked());
    return m_chosen;
}

// ---- Main-window commands ---------------------------------------------------------------

void openAdmFormForInput(QWidget *parent, const WorkContext &work) {
    TAdmForm w(TAdmForm::Mode::Input, work, parent);
    execModal(&w);
}

void openAdmFormForStructure(QWidget *parent, const WorkContext &work) {
    TAdmForm w(TAdmForm::Mode::Structure, work, parent);
    execModal(&w);
}
