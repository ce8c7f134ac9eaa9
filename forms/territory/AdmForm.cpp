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
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

using winutil::appTitle;
using winutil::guarded;

// The progress box of loads and unloads, shown for the length of a command.
class ProgressShown {
public:
    explicit ProgressShown(TAdmForm *w) : m_w(w) { w->GroupBox1->show(); }
    ~ProgressShown() {
        m_w->Label1->clear();
        m_w->GroupBox1->hide();
    }
private:
    TAdmForm *m_w;
};

} // namespace

// ---- Tree with drops ---------------------------------------------------------

TAdmTree::TAdmTree(QWidget *parent) : QTreeWidget(parent) {
    winutil::setupTree(this);
    setDragDropMode(QAbstractItemView::NoDragDrop);
}

adm::DropPlace TAdmTree::dropPlaceAt(const QPoint &pos, QTreeWidgetItem **target) const {
    QTreeWidgetItem *item = itemAt(pos);
    *target = item;
    if (!item) return adm::DropPlace::Empty;
    const QRect r = visualItemRect(item);
    return pos.x() < r.left() ? adm::DropPlace::Indent : adm::DropPlace::Label;
}

bool TAdmTree::dropCurrentAt(const QPoint &pos) {
    QTreeWidgetItem *target = nullptr;
    const adm::DropPlace place = dropPlaceAt(pos, &target);
    return adm::moveNode(this, currentItem(), target, place);
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

    MainMenu1 = new QMenuBar(this);
    N1 = MainMenu1->addAction(QStringLiteral("Добавить"), this, &TAdmForm::N1Click);
    N2 = MainMenu1->addAction(QStringLiteral("Вставить"), this, &TAdmForm::N2Click);
    N3 = MainMenu1->addAction(QStringLiteral("Удалить"), this, &TAdmForm::N3Click);
    N4 = MainMenu1->addAction(QStringLiteral("Корректировать"), this, &TAdmForm::N4Click);
    N8 = MainMenu1->addMenu(QStringLiteral("Выгрузить"));
    N13 = N8->addAction(QStringLiteral("Группу"), this, &TAdmForm::N13Click);
    N14 = N8->addAction(QStringLiteral("Одно учреждение"), this, &TAdmForm::N14Click);
    N11 = MainMenu1->addMenu(QStringLiteral("Подгрузить"));
    N7 = N11->addAction(QStringLiteral("Группу"), this, &TAdmForm::N7Click);
    N12 = N11->addAction(QStringLiteral("Одно учреждение"), this, &TAdmForm::N12Click);
    N11->addSeparator();
    N19 = N11->addAction(QStringLiteral("Выбор форм"), this, &TAdmForm::N19Click);
    N15 = MainMenu1->addMenu(QStringLiteral("Справка"));
    N16 = N15->addAction(QStringLiteral("По базе"), this, &TAdmForm::N16Click);
    N17 = N15->addAction(QStringLiteral("По входным файлам"), this, &TAdmForm::N17Click);
    N6 = MainMenu1->addAction(QStringLiteral("Структура"), this, &TAdmForm::N6Click);
    N6->setCheckable(true);
    N9 = MainMenu1->addAction(QStringLiteral("Формы"), this, &TAdmForm::N9Click);
    N10 = MainMenu1->addAction(QStringLiteral("Свод"), this, &TAdmForm::N10Click);
    N471 = MainMenu1->addAction(QStringLiteral("Ф47"), this, &TAdmForm::N471Click);
    N20 = MainMenu1->addAction(QStringLiteral("Короткие названия"), this, &TAdmForm::N20Click);
    N5 = MainMenu1->addAction(QStringLiteral("Выход"), this, &QDialog::reject);

    Panel1 = new QWidget(this);
    auto *panel = new QHBoxLayout(Panel1);
    panel->setContentsMargins(5, 2, 5, 2);
    Label2 = new QLabel(QStringLiteral("Выбранные формы"), Panel1);
    Label3 = new QLabel(QStringLiteral("Все"), Panel1);
    Label4 = new QLabel(QStringLiteral("Очищать"), Panel1);
    ComboBox1 = new QComboBox(Panel1);
    ComboBox1->addItems({QStringLiteral("ЛПУ"), QStringLiteral("Выбранные формы")});
    panel->addWidget(Label2);
    panel->addWidget(Label3, 1);
    panel->addWidget(Label4);
    panel->addWidget(ComboBox1);

    GroupBox1 = new QGroupBox(this);
    auto *gl = new QVBoxLayout(GroupBox1);
    Label1 = new QLabel(GroupBox1);
    Label1->setAlignment(Qt::AlignCenter);
    Gauge1 = new QProgressBar(GroupBox1);
    Gauge2 = new QProgressBar(GroupBox1);
    gl->addWidget(Label1);
    gl->addWidget(Gauge1);
    gl->addWidget(Gauge2);
    GroupBox1->hide();

    TreeView1 = new TAdmTree(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    connect(TreeView1, &QTreeWidget::currentItemChanged, this, &TAdmForm::TreeView1Change);
    connect(TreeView1, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *, int) { N9Click(); });

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu1);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addWidget(Panel1);
    layout->addWidget(GroupBox1);
    layout->addWidget(TreeView1, 1);

    const bool input = mode == Mode::Input;
    N1->setVisible(!input);
    N2->setVisible(!input);
    N3->setVisible(!input);
    N4->setVisible(!input);
    N8->menuAction()->setVisible(input);
    N11->menuAction()->setVisible(input);
    N15->menuAction()->setVisible(input);
    Panel1->setVisible(input);
    N6->setVisible(false);
    N9->setVisible(input);
    N10->setVisible(input);
    N471->setVisible(input);
    N20->setVisible(false);

    RegisterAdminForm(this);
}

void TAdmForm::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!m_built) guarded(this, [&] { FormActivate(); });
}

void TAdmForm::FormActivate() {
    m_built = true;
    TreeView1->clear();
    FillAdminTree(TreeView1, 0);
    if (QTreeWidgetItem *first = TreeView1->topLevelItem(0)) {
        TreeView1->setCurrentItem(first);
        first->setExpanded(true);
    }
    TreeView1Change();
    if (m_mode == Mode::Input) {
        Label3->setText(QStringLiteral("Все"));
        shared().GroupLoadForms.clear();
        ComboBox1->setCurrentIndex(0);
        ComboBox1->setEnabled(false);
    }
}

void TAdmForm::TreeView1Change() {
    QTreeWidgetItem *n = TreeView1->currentItem();
    const bool leaf = n && n->childCount() == 0;
    const bool branch = n && n->childCount() > 0;
    N3->setEnabled(leaf);
    N12->setEnabled(leaf);
    N14->setEnabled(leaf);
    N9->setEnabled(leaf);
    N10->setEnabled(branch);
    N471->setEnabled(branch);
    N13->setEnabled(branch);
    N4->setEnabled(n != nullptr && !N6->isChecked());
}

QString TAdmForm::SelectedLeafIds() const {
    return text::joinIdList(TreeLeafIds(TreeView1->currentItem()));
}

QString TAdmForm::dataFolder() const { return shared().yearFolder() + QStringLiteral("data/"); }

bool TAdmForm::clearChosenOnly() const { return ComboBox1->isEnabled() && ComboBox1->currentIndex() == 1; }

void TAdmForm::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_F11:
        N6->setVisible(!N6->isVisible());
        return;
    case Qt::Key_F9:
        N20->setVisible(!N20->isVisible());
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QTreeWidgetItem *n = TreeView1->currentItem()) {
            if (n->childCount() > 0) n->setExpanded(!n->isExpanded());
            else N9Click();
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
    dlg.Year = shared().Year;
    if (execModal(&dlg) != QDialog::Accepted) return;
    const adm::UnitInfo unit = dlg.unit();
    std::optional<adm::Population> population;
    if (dlg.populationTouched()) population = dlg.population();
    const qint64 id = adm::addUnit(parentId, unit, population, shared().Year);
    auto *item = new QTreeWidgetItem(QStringList{unit.name.trimmed()});
    item->setData(0, kNodeIdRole, id);
    if (parentNode) parentNode->addChild(item);
    else TreeView1->addTopLevelItem(item);
    TreeView1Change();
}

void TAdmForm::N1Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        QTreeWidgetItem *parent = n ? n->parent() : nullptr;
        addUnitUnder(parent ? TreeNodeId(parent) : 0, parent, QStringLiteral("Добавление подразделения"));
    });
}

void TAdmForm::N2Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n) return;
        addUnitUnder(TreeNodeId(n), n, QStringLiteral("Вставка подразделения"));
    });
}

void TAdmForm::N3Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n || n->childCount() > 0) return;
        if (!confirm(QStringLiteral("Вы действительно хотите удалить ") + n->text(0) +
                         QStringLiteral(" со всей информацией?"),
                     this))
            return;
        const QStringList reports = adm::deleteUnit(TreeNodeId(n), shared().Year);
        delete n;
        TreeView1Change();
        if (!reports.isEmpty())
            showMessage(QStringLiteral("Подразделение исключено из входящих учреждений отчетов: ") +
                            reports.join(QStringLiteral(", ")),
                        this);
    });
}

void TAdmForm::N4Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n) return;
        const qint64 id = TreeNodeId(n);
        TUntChar dlg(this);
        dlg.setWindowTitle(QStringLiteral("Корректировка подразделения"));
        dlg.setTypes(adm::medTypes());
        dlg.setUnit(adm::readUnit(id));
        dlg.UnitId = id;
        dlg.Year = shared().Year;
        if (n->childCount() > 0) {
            dlg.ChildUnitIds = adm::childIds(id);
            dlg.Button1->show();
        }
        dlg.setPopulation(adm::readPopulation(id, shared().Year));
        if (execModal(&dlg) != QDialog::Accepted) return;
        const adm::UnitInfo unit = dlg.unit();
        std::optional<adm::Population> population;
        if (dlg.populationTouched()) population = dlg.population();
        adm::saveUnit(id, unit, population, shared().Year);
        n->setText(0, unit.name.trimmed());
    });
}

void TAdmForm::N6Click() {
    guarded(this, [&] {
        // N6 is checkable: Qt has already flipped the mark.
        const bool on = N6->isChecked();
        if (!on) {
            try {
                adm::saveOrder(TreeView1);
            } catch (...) {
                N6->setChecked(true);
                throw;
            }
        }
        N1->setEnabled(!on);
        N2->setEnabled(!on);
        N4->setEnabled(!on && TreeView1->currentItem());
        N7->setEnabled(!on);
        N8->setEnabled(!on);
        TreeView1->setDragEnabled(on);
        TreeView1->setAcceptDrops(on);
        TreeView1->setDragDropMode(on ? QAbstractItemView::InternalMove : QAbstractItemView::NoDragDrop);
    });
}

// ---- Opening the forms tree -----------------------------------------------------

void TAdmForm::N9Click() {
    if (!N9->isVisible()) return;   // a double click on a territory node leads to its first institution
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n) return;
        while (n->childCount() > 0) n = n->child(0);
        TreeView1->setCurrentItem(n);
        openFormsTreeForInstitution(this, m_work, TreeNodeId(n), n->text(0));
    });
}

void TAdmForm::N10Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n) return;
        const QString leaves = SelectedLeafIds();
        if (leaves.isEmpty()) return;
        openFormsTreeForSummary(this, m_work, TreeNodeId(n), n->text(0), leaves);
    });
}

void TAdmForm::N471Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n) return;
        const QString leaves = SelectedLeafIds();
        if (leaves.isEmpty()) return;
        openFormsTreeForNetwork(this, m_work, TreeNodeId(n), n->text(0), leaves);
    });
}

// ---- Transfer files ---------------------------------------------------------------

void TAdmForm::N14Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n || n->childCount() > 0) return;
        if (!transfer::hasValuesToWrite(ValueTable::Data, TreeNodeId(n), shared().Year)) {
            showMessage(transfer::nothingToWriteMessage(n->text(0), shared().Year), this);
            return;
        }
        paths::makePath(dataFolder());
        const QString year = shared().yearText();
        QString file = dialogs().saveFile(this, QStringLiteral("Выгрузить"),
                                          dataFolder() + transfer::unitFileNameOfStem(transfer::unitStemOfNode(n),
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

void TAdmForm::N13Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n) return;
        const ProgressShown shown(this);
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
            return transfer::SaveHospTree(n, dataFolder(), adm::levelName(), shared().Year, [&](const QString &t) {
                Label1->setText(t);
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

void TAdmForm::N12Click() {
    guarded(this, [&] {
        QTreeWidgetItem *n = TreeView1->currentItem();
        if (!n || n->childCount() > 0) return;
        const QString file = dialogs().openFile(this, QStringLiteral("Подгрузить"), dataFolder() + n->text(0),
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
        const ProgressShown shown(this);
        Label1->setText(n->text(0));
        const transfer::LoadResult r =
            transfer::LoadUnitInfo(TreeNodeId(n), file, shared().GroupLoadForms, clearChosenOnly(),
                                   [&](int done, int total) {
                                       Gauge2->setMaximum(total);
                                       Gauge2->setValue(done);
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

void TAdmForm::N7Click() {
    guarded(this, [&] {
        const QStringList files = dialogs().openFiles(this, QStringLiteral("Подгрузить"), dataFolder(),
                                                      QStringLiteral("Информация по ЛПУ (*.orv *.orw)"));
        if (files.isEmpty()) return;
        if (const QString level = transfer::levelQuestion(transfer::UnitNames(), files, adm::levelName());
            !level.isEmpty() && !confirmDefaultNo(level, this))
            return;
        // Every file is read before the question: the window paints and
        // answers "Отмена" meanwhile.
        const QList<transfer::Emptied> emptiedForms = [&] {
            ProgressRun run(QStringLiteral("Подгрузка информации"), int(files.size()));
            return adm::formsEmptiedByUnitFiles(files, shared().GroupLoadForms, clearChosenOnly(),
                                                [&](int i, const QString &name) {
                                                    run.window().setDetailText(name);
                                                    run.window().setPosition(i);
                                                    run.window().checkCancelled();
                                                });
        }();
        if (const QString emptied = transfer::emptiedFormsQuestion(emptiedForms, shared().Year);
            !emptied.isEmpty() && !confirmDefaultNo(emptied, this))
            return;
        const ProgressShown shown(this);
        Gauge1->setMaximum(int(files.size()));
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
                        Gauge1->setValue(i);
                        Label1->setText(name);
                        run.window().setDetailText(name);
                        run.window().setPosition(i);
                        run.window().checkCancelled();
                    },
                    [&](int done, int total) {
                        if (done != total && paced.elapsed() < kPaintIntervalMs) return;
                        paced.restart();
                        Gauge2->setMaximum(total);
                        Gauge2->setValue(done);
                        run.window().setPosition(run.window().position());   // lets the events run
                        run.window().checkCancelled();
                    });
            });
        }();
        winutil::reportGroupLoad(this, r.missingUnits, r.failures);
        showMessage(importpolicy::withNotes(
                        transfer::loadedMessage(QStringLiteral("Подгрузка информации закончена"), r.outside),
                        {r.unknown.note(), transfer::otherTypeNote(r.otherType), transfer::emptiedFormsNote(r.emptied)}),
                    this);
        winutil::showSkippedUnits(r.missingUnits);
    });
}

// ---- Presence reports --------------------------------------------------------------

void TAdmForm::showPresenceList(const StringList &lines) {
    if (lines.isEmpty()) return;
    TForm1 &list = Form1();
    list.setWindowTitle(presence::listCaption());
    list.setHeading(presence::listHeading(winutil::mainWindowCaption()));
    ShowTextList(lines, presence::listHeader());
    execModal(&list);
}

void TAdmForm::N16Click() {
    guarded(this, [&] {
        QTreeWidgetItem *top = TreeView1->currentItem();
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
            const ProgressShown shown(this);
            Gauge1->setMaximum(std::max(1, int(nodes.size())));
            int i = 0;
            lines = presence::reportByDatabase(nodes, [&](const QString &name) {
                Label1->setText(name);
                Gauge1->setValue(++i);
                QApplication::processEvents();
            });
        }
        showPresenceList(lines);
    });
}

void TAdmForm::N17Click() {
    guarded(this, [&] {
        const QStringList files = dialogs().openFiles(this, QStringLiteral("Справка по входным файлам"), dataFolder(),
                                                      QStringLiteral("Информация по ЛПУ (*.orv *.orw)"));
        if (files.isEmpty()) return;
        StringList lines;
        {
            const ProgressShown shown(this);
            Gauge1->setMaximum(int(files.size()));
            Gauge1->setValue(0);
            lines = presence::reportByFiles(
                files,
                [&](const QString &name) {
                    Label1->setText(name);
                    QApplication::processEvents();
                },
                [&](int done) { Gauge1->setValue(done); });
        }
        showPresenceList(lines);
    });
}

void TAdmForm::N20Click() {
    guarded(this, [&] { openShortNamesEditor(this); });
}

void TAdmForm::N19Click() {
    guarded(this, [&] {
        TSFLF dlg(shared().GroupLoadForms, this);
        const std::optional<QString> choice = dlg.choose();
        if (!choice) return;
        shared().GroupLoadForms = *choice;
        const QString &chosen = shared().GroupLoadForms;
        Label3->setText(chosen.isEmpty() ? QStringLiteral("Все") : chosen);
        ComboBox1->setEnabled(!chosen.isEmpty());
    });
}

// ---- Unit dialog ---------------------------------------------------------------------

TUntChar::TUntChar(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("UntChar"));
    Edit1 = new QLineEdit(this);
    ComboBox1 = new QComboBox(this);
    CheckBox1 = new QCheckBox(QStringLiteral("Сельская местность"), this);
    auto makeEdit = [this] {
        auto *e = new QLineEdit(this);
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,8}")), e));
        e->setMaxLength(8);
        return e;
    };
    MaskEdit1 = makeEdit();
    MaskEdit2 = makeEdit();
    MaskEdit3 = makeEdit();
    MaskEdit4 = makeEdit();
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Отказ"), this);
    Button1 = new QPushButton(QStringLiteral("Подсчитать"), this);
    Button2 = new QPushButton(QStringLiteral("Восстановить"), this);
    Button1->hide();
    Button2->hide();
    BitBtn1->setDefault(true);
    Edit1->setMinimumWidth(320);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Наименование подразделения"), Edit1);
    form->addRow(QStringLiteral("Тип"), ComboBox1);
    form->addRow(QString(), CheckBox1);
    auto *pop = new QGroupBox(QStringLiteral("Численность населения"), this);
    auto *pf = new QFormLayout(pop);
    pf->addRow(QStringLiteral("Всего"), MaskEdit1);
    pf->addRow(QStringLiteral("Взрослые"), MaskEdit2);
    pf->addRow(QStringLiteral("Подростки"), MaskEdit3);
    pf->addRow(QStringLiteral("Дети"), MaskEdit4);
    auto *popButtons = new QHBoxLayout;
    popButtons->addWidget(Button1);
    popButtons->addWidget(Button2);
    pf->addRow(popButtons);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(pop);
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &TUntChar::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button1, &QPushButton::clicked, this, &TUntChar::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TUntChar::Button2Click);
}

void TUntChar::setTypes(const QList<QPair<QString, qint64>> &types) {
    ComboBox1->clear();
    for (const auto &t : types) ComboBox1->addItem(t.first, t.second);
    ComboBox1->setCurrentIndex(-1);
}

void TUntChar::setUnit(const adm::UnitInfo &unit) {
    Edit1->setText(unit.name);
    ComboBox1->setCurrentIndex(ComboBox1->findData(unit.medicalType));
    CheckBox1->setChecked(unit.country);
}

adm::UnitInfo TUntChar::unit() const {
    adm::UnitInfo u;
    u.name = Edit1->text();
    u.medicalType = ComboBox1->currentIndex() >= 0 ? ComboBox1->currentData().toLongLong() : -1;
    u.country = CheckBox1->isChecked();
    return u;
}

void TUntChar::setPopulation(const std::optional<adm::Population> &p) {
    const adm::Population v = p.value_or(adm::Population{});
    MaskEdit1->setText(v.common);
    MaskEdit2->setText(v.olds);
    MaskEdit3->setText(v.teens);
    MaskEdit4->setText(v.childs);
    for (QLineEdit *e : {MaskEdit1, MaskEdit2, MaskEdit3, MaskEdit4}) e->setModified(false);
}

adm::Population TUntChar::population() const {
    return adm::Population{MaskEdit1->text(), MaskEdit2->text(), MaskEdit3->text(), MaskEdit4->text()};
}

bool TUntChar::populationTouched() const {
    return m_counted || MaskEdit1->isModified() || MaskEdit2->isModified() || MaskEdit3->isModified() ||
           MaskEdit4->isModified();
}

void TUntChar::Button1Click() {
    guarded(this, [&] {
        const adm::Population p = adm::sumPopulation(ChildUnitIds, Year);
        MaskEdit1->setText(p.common);
        MaskEdit2->setText(p.olds);
        MaskEdit3->setText(p.teens);
        MaskEdit4->setText(p.childs);
        Button2->show();
        m_counted = true;
    });
}

void TUntChar::Button2Click() {
    guarded(this, [&] {
        setPopulation(adm::readPopulation(UnitId, Year));
        Button2->show();
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
    CheckListBox1 = new QListWidget(this);
    CheckBox1 = new QCheckBox(QStringLiteral("Выбрать все"), this);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Отказ"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(CheckBox1);
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(CheckListBox1, 1);
    layout->addLayout(buttons);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) {
        for (int i = 0; i < CheckListBox1->count(); ++i)
            CheckListBox1->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    });
}

std::optional<QString> TSFLF::choose() {
    CheckListBox1->clear();
    const QList<bool> ticks = adm::formChoiceTicks(m_chosen);
    const QList<CachedForm> &forms = shared().Caches.forms;
    for (int i = 0; i < forms.size(); ++i) {
        auto *item = new QListWidgetItem(forms[i].caption(), CheckListBox1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ticks.value(i) ? Qt::Checked : Qt::Unchecked);
    }
    if (execModal(this) != QDialog::Accepted) return std::nullopt;
    QList<bool> chosen;
    for (int i = 0; i < CheckListBox1->count(); ++i) chosen.append(CheckListBox1->item(i)->checkState() == Qt::Checked);
    m_chosen = adm::formChoiceResult(chosen, CheckBox1->isChecked());
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
