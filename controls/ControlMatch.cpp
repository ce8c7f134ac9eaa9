#include "controls/ControlMatch.h"

#include "controls/ControlMatchLogic.h"
#include "engine/Lookups.h"
#include "engine/LinksDb.h"
#include "core/ListWindow.h"
#include "core/ProgressWindow.h"
#include "engine/SharedState.h"
#include "platform/Paths.h"
#include "platform/Errors.h"
#include "widgets/AbcComboBox.h"
#include "widgets/FlowLayout.h"
#include "widgets/WindowLayout.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/office/Show.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTreeWidget>
#include <QVBoxLayout>

// ---- drawing of result lines -------------------------------------------------

QColor matchLineColour(const QString &line) {
    if (line.contains(cmatch::kDuplicate)) return QColor(0xE0, 0xFF, 0xE0);
    if (line.contains(cmatch::kOtherSign)) return QColor(0xFF, 0xFF, 0xC0);
    if (line.contains(cmatch::kDifferent)) return QColor(0xFF, 0xE0, 0xE0);
    return QColor();
}

BoldSpan matchLineBoldSpan(const QString &line) {
    BoldSpan s;
    const int open = int(line.lastIndexOf(u'['));
    if (open < 0) return s;
    const int close = int(line.indexOf(u']', open));
    if (close < 0) return s;
    s.start = open;
    s.length = close - open + 1;
    return s;
}

void MatchLineDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
    if (index.row() < 0) return;
    const QString line = index.data(Qt::DisplayRole).toString();
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette &pal = option.palette;
    QColor back = matchLineColour(line);
    QColor fore = back.isValid() ? QColor(Qt::black) : pal.color(QPalette::Text);
    if (!back.isValid()) back = pal.color(QPalette::Base);
    if (selected) {
        back = pal.color(QPalette::Highlight);
        fore = pal.color(QPalette::HighlightedText);
    }
    painter->save();
    painter->fillRect(option.rect, back);
    painter->setPen(fore);
    QFont normal = option.font;
    QFont bold = normal;
    bold.setBold(true);
    const BoldSpan span = matchLineBoldSpan(line);
    QRect r = option.rect.adjusted(2, 0, 0, 0);
    auto draw = [&](const QString &piece, const QFont &font) {
        painter->setFont(font);
        painter->drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, piece);
        r.setLeft(r.left() + QFontMetrics(font).horizontalAdvance(piece));
    };
    if (span.start < 0) {
        draw(line, normal);
    } else {
        draw(line.left(span.start), normal);
        draw(line.mid(span.start, span.length), bold);
        draw(line.mid(span.start + span.length), normal);
    }
    painter->restore();
}

QSize MatchLineDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const {
    const QFontMetrics fm(option.font);
    return QSize(fm.horizontalAdvance(index.data().toString()) + 40, fm.boundingRect(QStringLiteral("Wg")).height() + 2);
}

// ---- window --------------------------------------------------------------------

namespace {

QGroupBox *radioGroup(const QString &caption, const QStringList &items, int columns, QButtonGroup *&group,
                      QWidget *parent) {
    auto *box = new QGroupBox(caption, parent);
    auto *grid = new QGridLayout(box);
    group = new QButtonGroup(box);
    const int rows = (int(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items.at(i), box);
        group->addButton(b, i);
        grid->addWidget(b, i % rows, i / rows);
    }
    return box;
}

// The list of the lines an import did not store: as wide as its columns
// need, within the screen; a long reason gives up width first, so that the
// book's line stays in sight.
void fitListedLines(TForm1 &list) {
    QTreeWidget *tree = list.list();
    const int columns = tree->columnCount();
    int wanted = 0;
    for (int i = 0; i < columns; ++i) wanted += tree->columnWidth(i);
    const int margins = list.width() - tree->viewport()->width() + 8;
    winutil::fitToScreen(&list, QSize(std::max(list.width(), wanted + margins), list.height()));
    const int room = list.width() - margins;
    if (columns == 3 && wanted > room) {
        const int others = tree->columnWidth(1) + tree->columnWidth(2);
        tree->setColumnWidth(0, std::max(room / 4, std::min(tree->columnWidth(0), room - others)));
    }
}

QString beforeDash(const QString &text) {
    const int at = int(text.indexOf(QStringLiteral(" - ")));
    return at >= 0 ? text.left(at) : text;
}

} // namespace

TControlMatchForm::TControlMatchForm(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ControlMatchForm"));
    setWindowTitle(QStringLiteral("Сопоставление контролей"));

    // The choices and commands: blocks that wrap on a narrow screen.
    auto *top = new QWidget(this);
    auto *topLayout = new FlowLayout(top);
    m_ui.ruleClassBox = radioGroup(QStringLiteral("Тип контроля"),
                             {QStringLiteral("Внутритабличные"), QStringLiteral("Межтабличные"),
                              QStringLiteral("Межформенные")},
                             1, m_ui.ruleClasses, top);
    topLayout->addWidget(m_ui.ruleClassBox);

    auto *filter = new QWidget(top);
    filter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *middle = new QVBoxLayout(filter);
    middle->setContentsMargins(0, 0, 0, 0);
    m_ui.filterBox = radioGroup(QStringLiteral("Фильтр"),
                             {QStringLiteral("Все"), QStringLiteral("Форма"), QStringLiteral("Таблица")}, 3,
                             m_ui.filters, top);
    middle->addWidget(m_ui.filterBox);
    auto *choice = new QGridLayout;
    m_ui.formCaption = new QLabel(QStringLiteral("Форма:"), top);
    m_ui.tableCaption = new QLabel(QStringLiteral("Таблица:"), top);
    // Long form names and table captions shortened with "…", whole in the tip.
    m_ui.forms = new TabcLRComboBox(top);
    m_ui.tables = new TabcLRComboBox(top);
    for (QComboBox *c : {m_ui.forms, m_ui.tables}) {
        c->setMinimumWidth(160);
        c->setMinimumContentsLength(36);
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    }
    choice->addWidget(m_ui.formCaption, 0, 0);
    choice->addWidget(m_ui.forms, 0, 1);
    choice->addWidget(m_ui.tableCaption, 1, 0);
    choice->addWidget(m_ui.tables, 1, 1);
    choice->setColumnStretch(1, 1);
    middle->addLayout(choice);
    middle->addStretch();
    topLayout->addWidget(filter);

    auto *commands = new QWidget(top);
    auto *buttons = new QGridLayout(commands);
    buttons->setContentsMargins(0, 0, 0, 0);
    m_ui.importRules = new QPushButton(QStringLiteral("Импорт контролей"), top);
    m_ui.compare = new QPushButton(QStringLiteral("Сопоставить"), top);
    m_ui.describeAll = new QPushButton(QStringLiteral("Проставить описания для всех контролей"), top);
    m_ui.exportRules = new QPushButton(QStringLiteral("Выгрузить контроли"), top);
    m_ui.onlyDiffering = new QCheckBox(QStringLiteral("Выводить только отличающиеся"), top);
    for (QPushButton *b : {m_ui.importRules, m_ui.compare, m_ui.describeAll, m_ui.exportRules}) b->setAutoDefault(false);
    buttons->addWidget(m_ui.importRules, 0, 0);
    buttons->addWidget(m_ui.compare, 0, 1);
    buttons->addWidget(m_ui.describeAll, 1, 0, 1, 2);
    buttons->addWidget(m_ui.exportRules, 2, 0);
    buttons->addWidget(m_ui.onlyDiffering, 3, 0, 1, 2);
    topLayout->addWidget(commands);

    m_ui.results = new QGroupBox(QStringLiteral("Результаты сопоставления"), this);
    auto *results = new QVBoxLayout(m_ui.results);
    const QFont mono(QStringLiteral("Courier New"), 9);
    m_ui.summary = new QPlainTextEdit(m_ui.results);
    m_ui.summary->setReadOnly(true);
    m_ui.summary->setFont(mono);
    m_ui.summary->setFixedHeight(60);
    m_ui.summary->setPlainText(QStringLiteral("Выберите тип контроля и нажмите \"Сопоставить\" для анализа."));
    results->addWidget(m_ui.summary);
    auto *lists = new QHBoxLayout;
    auto makeList = [&](const QString &heading, QListWidget *&list) {
        auto *column = new QVBoxLayout;
        column->addWidget(new QLabel(heading, m_ui.results));
        list = new QListWidget(m_ui.results);
        list->setFont(mono);
        list->setUniformItemSizes(true);
        list->setItemDelegate(new MatchLineDelegate(list));
        column->addWidget(list);
        lists->addLayout(column);
    };
    makeList(QStringLiteral("Контроли проекта"), m_ui.projectList);
    makeList(QStringLiteral("Контроли выгрузки минздрава"), m_ui.externalList);
    m_ui.projectList->setMinimumWidth(160);
    results->addLayout(lists, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(top);
    layout->addWidget(m_ui.results, 1);
    winutil::fitToScreen(this, QSize(1318, 765));

    connect(m_ui.ruleClasses, &QButtonGroup::idClicked, this, [this] { enableFormAndTable(); });
    connect(m_ui.filters, &QButtonGroup::idClicked, this, [this] { chooseFilter(); });
    connect(m_ui.forms, qOverload<int>(&QComboBox::activated), this,
            [this] { winutil::guarded(this, [this] { loadTablesOfForm(); }); });
    connect(m_ui.importRules, &QPushButton::clicked, this, [this] { winutil::guarded(this, [this] { importRules(); }); });
    connect(m_ui.compare, &QPushButton::clicked, this, [this] { winutil::guarded(this, [this] { compareRules(); }); });
    connect(m_ui.describeAll, &QPushButton::clicked, this, [this] { winutil::guarded(this, [this] { describeAllRules(); }); });
    connect(m_ui.exportRules, &QPushButton::clicked, this, [this] { winutil::guarded(this, [this] { exportRules(); }); });
    connect(m_ui.onlyDiffering, &QCheckBox::toggled, this, [this] { switchOnlyDiffering(); });

    winutil::guarded(this, [this] { FormCreate(); });
}

TControlMatchForm::~TControlMatchForm() = default;

QString TControlMatchForm::summaryText() const { return m_ui.summary->toPlainText(); }

void TControlMatchForm::FormCreate() {
    DebugTrace = false;
    LinksPath = links::findLinksFile();
    Importer = std::make_unique<TControlMatchImporter>(db::kMain, &FormCodeMap, DebugTrace, LinksPath);
    LoadFormCodeMap();
    LoadForms();
    setRuleClass(0);
    setFilter(2);
    enableFormAndTable();
}

int TControlMatchForm::ruleClass() const { return std::max(0, m_ui.ruleClasses->checkedId()); }
int TControlMatchForm::filter() const { return std::max(0, m_ui.filters->checkedId()); }
void TControlMatchForm::setRuleClass(int k) { m_ui.ruleClasses->button(k)->setChecked(true); }
void TControlMatchForm::setFilter(int f) { m_ui.filters->button(f)->setChecked(true); }

void TControlMatchForm::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TControlMatchForm::LoadFormCodeMap() {
    FormCodeMap.clear();
    if (!QFileInfo::exists(LinksPath)) return;
    auto conn = links::openLinks(LinksPath);
    QSqlQuery q = db::exec(conn->db(), QStringLiteral("select mf, nf from forms"));
    while (q.next()) {
        const QString mf = q.value(0).toString().trimmed();
        const QString nf = q.value(1).toString().trimmed();
        if (!mf.isEmpty() && !nf.isEmpty()) FormCodeMap.setValue(mf, nf);
    }
}

void TControlMatchForm::LoadForms() {
    m_ui.forms->clear();
    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select id, formname, decipher from forms order by ind"));
    while (q.next())
        m_ui.forms->addItem(q.value(1).toString() + QStringLiteral(" - ") + q.value(2).toString(), q.value(0));
    if (m_ui.forms->count() > 0) {
        m_ui.forms->setCurrentIndex(0);
        LoadTables();
    }
}

void TControlMatchForm::LoadTables() {
    m_ui.tables->clear();
    const qint64 id = chosenFormId();
    if (id <= 0) return;
    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select tablen, name from tables where form=? order by tablen"),
                           {id});
    while (q.next()) m_ui.tables->addItem(q.value(0).toString() + QStringLiteral(" - ") + q.value(1).toString());
    if (m_ui.tables->count() > 0) m_ui.tables->setCurrentIndex(0);
}

qint64 TControlMatchForm::chosenFormId() const {
    return m_ui.forms->currentIndex() >= 0 ? m_ui.forms->currentData().toLongLong() : 0;
}

QString TControlMatchForm::chosenTableText() const {
    return m_ui.tables->currentIndex() >= 0 ? beforeDash(m_ui.tables->currentText()) : QString();
}

void TControlMatchForm::enableFormAndTable() {
    for (QWidget *w : {static_cast<QWidget *>(m_ui.forms), static_cast<QWidget *>(m_ui.tables),
                       static_cast<QWidget *>(m_ui.formCaption), static_cast<QWidget *>(m_ui.tableCaption)})
        w->setEnabled(true);
}

void TControlMatchForm::chooseFilter() { enableFormAndTable(); }

void TControlMatchForm::loadTablesOfForm() { LoadTables(); }

bool TControlMatchForm::CompareControlSets(ProgressSink &progress) {
    const int k = ruleClass();
    const int f = filter();
    const qint64 formId = chosenFormId();
    const QString table = chosenTableText();
    const QString formName = formId > 0 ? GetFormNameById(formId) : QString();
    const cmatch::Selection sel = cmatch::selectionFor(k, f, formId, table, formName);
    // The default form only where a form was taken into the selection.
    const bool formTaken = (f == 1 && formId > 0) || (f == 2 && formId > 0 && !table.isEmpty());
    const cmatch::CompareResult r =
        cmatch::CompareControlSets(*Importer, sel, k, formTaken ? formName : QString(), progress);
    m_ui.summary->setPlainText(r.summary.join(u'\n'));
    ProjectLines = r.projectLines;
    ExternalLines = r.externalLines;
    FillResultLists();
    return true;
}

void TControlMatchForm::FillResultLists() {
    const bool only = m_ui.onlyDiffering->isChecked();
    m_ui.projectList->clear();
    m_ui.projectList->addItems(cmatch::filterAndSort(ProjectLines, only));
    m_ui.externalList->clear();
    m_ui.externalList->addItems(cmatch::filterAndSort(ExternalLines, only));
}

void TControlMatchForm::switchOnlyDiffering() {
    if (!ProjectLines.isEmpty() || !ExternalLines.isEmpty()) FillResultLists();
}

void TControlMatchForm::importRules() {
    const QString file = dialogs().openFile(this, QStringLiteral("Выберите файл с контролями минздрава"),
                                            office::documentsFolder(),
                                            QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*.*)"));
    if (file.isEmpty()) return;
    winutil::guarded(this, [&] {
        // Links.mdb is looked for again: it may have been put in the year's
        // folder since the window opened.
        LinksPath = links::findLinksFile();
        if (!QFileInfo::exists(LinksPath)) {
            showMessage(QStringLiteral("Не найдена база сопоставления кодов Links.mdb ни в папке года «") +
                            shared().yearFolder() + QStringLiteral("», ни в папке программы «") +
                            paths::programFolder() +
                            QStringLiteral("». Импорт не выполнен, прежние импортированные контроли сохранены."),
                        this);
            return;
        }
        if (Importer->LinksPath != LinksPath) {
            Importer->LinksPath = LinksPath;
            Importer->MapsLoaded = false;
        }
        LoadFormCodeMap();
        int count = 0;
        {
            ProgressRun run(QStringLiteral("Импорт контролей из файла..."));
            count = Importer->ImportControls(file, &run.window());
        }
        showMessage(QStringLiteral("Импорт завершен. Импортировано строк: ") + QString::number(count) +
                        (Importer->LastSummary.isEmpty() ? QString() : QStringLiteral("\n") + Importer->LastSummary),
                    this);
        if (Importer->LastListed.isEmpty()) return;
        // The lines not stored, and those stored with numbers to check, by reason.
        TForm1 &list = Form1();
        list.setWindowTitle(QStringLiteral("Импорт контролей: строки книги не импортированы или требуют проверки"));
        list.setHeading(QStringLiteral("Файл ") + file);
        ShowTextList(Importer->ListedLines(), QStringLiteral("Причина\tНомер строки\tСтрока книги"));
        fitListedLines(list);
        execModal(&list);
    });
}

void TControlMatchForm::compareRules() {
    ProgressRun run(QStringLiteral("Сопоставление контролей..."));
    CompareControlSets(run.window());
}

void TControlMatchForm::describeAllRules() {
    if (!Importer) return;
    int count = 0;
    {
        ProgressRun run(QStringLiteral("Обновление описаний контролей..."), 0, QStringLiteral("Простановка описаний"));
        count = Importer->UpdateControlDescriptions(&run.window());
    }
    showMessage(QStringLiteral("Обновлено описаний: ") + QString::number(count), this);
}

void TControlMatchForm::exportRules() {
    if (m_ui.forms->currentIndex() < 0) {
        showMessage(QStringLiteral("Выберите форму"), this);
        return;
    }
    const qint64 formId = chosenFormId();
    QString formName = beforeDash(m_ui.forms->currentText());
    if (formName.isEmpty()) formName = m_ui.forms->currentText();
    QString file = dialogs().saveFile(this, QStringLiteral("Выгрузить контроли в файл"),
                                      office::documentsFolder() + QStringLiteral("controls_") + formName +
                                          QStringLiteral(".orv"),
                                      QStringLiteral("Файлы контролей (*.orv)"));
    if (file.isEmpty()) return;
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".orv");
    QString sql;
    const int n = cmatch::exportImportedControls(formId, formName, file, &sql);
    if (n == 0) {
        showMessage(QStringLiteral("Не найдено контролей для формы ") + formName + QStringLiteral("\r\nSQL: ") + sql,
                    this);
        return;
    }
    showMessage(QStringLiteral("Контроли выгружены в файл ") + file, this);
}

void openControlMatch(QWidget *parent) {
    winutil::guarded(parent, [parent] {
        std::unique_ptr<TControlMatchForm> w(new TControlMatchForm(parent));
        execModal(w.get());
    });
}
