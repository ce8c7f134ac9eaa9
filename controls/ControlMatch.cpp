#include "controls/ControlMatch.h"

#include "controls/ControlMatchLogic.h"
#include "engine/Lookups.h"
#include "engine/LinksDb.h"
#include "core/ListWindow.h"
#include "core/ProgressWindow.h"
#include "platform/Errors.h"
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
    RadioGroup1 = radioGroup(QStringLiteral("Тип контроля"),
                             {QStringLiteral("Внутритабличные"), QStringLiteral("Межтабличные"),
                              QStringLiteral("Межформенные")},
                             1, RadioGroup1Buttons, top);
    topLayout->addWidget(RadioGroup1);

    auto *filter = new QWidget(top);
    filter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *middle = new QVBoxLayout(filter);
    middle->setContentsMargins(0, 0, 0, 0);
    RadioGroup3 = radioGroup(QStringLiteral("Фильтр"),
                             {QStringLiteral("Все"), QStringLiteral("Форма"), QStringLiteral("Таблица")}, 3,
                             RadioGroup3Buttons, top);
    middle->addWidget(RadioGroup3);
    auto *choice = new QGridLayout;
    Label1 = new QLabel(QStringLiteral("Форма:"), top);
    Label2 = new QLabel(QStringLiteral("Таблица:"), top);
    ComboBox1 = new QComboBox(top);
    ComboBox2 = new QComboBox(top);
    for (QComboBox *c : {ComboBox1, ComboBox2}) {
        c->setMinimumWidth(160);
        c->setMinimumContentsLength(36);
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    }
    choice->addWidget(Label1, 0, 0);
    choice->addWidget(ComboBox1, 0, 1);
    choice->addWidget(Label2, 1, 0);
    choice->addWidget(ComboBox2, 1, 1);
    choice->setColumnStretch(1, 1);
    middle->addLayout(choice);
    middle->addStretch();
    topLayout->addWidget(filter);

    auto *commands = new QWidget(top);
    auto *buttons = new QGridLayout(commands);
    buttons->setContentsMargins(0, 0, 0, 0);
    Button1 = new QPushButton(QStringLiteral("Импорт контролей"), top);
    Button2 = new QPushButton(QStringLiteral("Сопоставить"), top);
    Button3 = new QPushButton(QStringLiteral("Проставить описания для всех контролей"), top);
    Button4 = new QPushButton(QStringLiteral("Выгрузить контроли"), top);
    CheckBox1 = new QCheckBox(QStringLiteral("Выводить только отличающиеся"), top);
    for (QPushButton *b : {Button1, Button2, Button3, Button4}) b->setAutoDefault(false);
    buttons->addWidget(Button1, 0, 0);
    buttons->addWidget(Button2, 0, 1);
    buttons->addWidget(Button3, 1, 0, 1, 2);
    buttons->addWidget(Button4, 2, 0);
    buttons->addWidget(CheckBox1, 3, 0, 1, 2);
    topLayout->addWidget(commands);

    GroupBox1 = new QGroupBox(QStringLiteral("Результаты сопоставления"), this);
    auto *results = new QVBoxLayout(GroupBox1);
    const QFont mono(QStringLiteral("Courier New"), 9);
    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setReadOnly(true);
    Memo1->setFont(mono);
    Memo1->setFixedHeight(60);
    Memo1->setPlainText(QStringLiteral("Выберите тип контроля и нажмите \"Сопоставить\" для анализа."));
    results->addWidget(Memo1);
    auto *lists = new QHBoxLayout;
    auto makeList = [&](const QString &heading, QListWidget *&list) {
        auto *column = new QVBoxLayout;
        column->addWidget(new QLabel(heading, GroupBox1));
        list = new QListWidget(GroupBox1);
        list->setFont(mono);
        list->setUniformItemSizes(true);
        list->setItemDelegate(new MatchLineDelegate(list));
        column->addWidget(list);
        lists->addLayout(column);
    };
    makeList(QStringLiteral("Контроли проекта"), ListBox1);
    makeList(QStringLiteral("Контроли выгрузки минздрава"), ListBox2);
    ListBox1->setMinimumWidth(160);
    results->addLayout(lists, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(top);
    layout->addWidget(GroupBox1, 1);
    winutil::fitToScreen(this, QSize(1318, 765));

    connect(RadioGroup1Buttons, &QButtonGroup::idClicked, this, [this] { RadioGroup1Click(); });
    connect(RadioGroup3Buttons, &QButtonGroup::idClicked, this, [this] { RadioGroup3Click(); });
    connect(ComboBox1, qOverload<int>(&QComboBox::activated), this,
            [this] { winutil::guarded(this, [this] { ComboBox1Click(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { winutil::guarded(this, [this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { winutil::guarded(this, [this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { winutil::guarded(this, [this] { Button3Click(); }); });
    connect(Button4, &QPushButton::clicked, this, [this] { winutil::guarded(this, [this] { Button4Click(); }); });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });

    winutil::guarded(this, [this] { FormCreate(); });
}

TControlMatchForm::~TControlMatchForm() = default;

void TControlMatchForm::FormCreate() {
    DebugTrace = false;
    LinksPath = links::findLinksFile();
    Importer = std::make_unique<TControlMatchImporter>(db::kMain, &FormCodeMap, DebugTrace, LinksPath);
    LoadFormCodeMap();
    LoadForms();
    setRuleClass(0);
    setFilter(2);
    RadioGroup1Click();
}

int TControlMatchForm::ruleClass() const { return std::max(0, RadioGroup1Buttons->checkedId()); }
int TControlMatchForm::filter() const { return std::max(0, RadioGroup3Buttons->checkedId()); }
void TControlMatchForm::setRuleClass(int k) { RadioGroup1Buttons->button(k)->setChecked(true); }
void TControlMatchForm::setFilter(int f) { RadioGroup3Buttons->button(f)->setChecked(true); }

void TControlMatchForm::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TControlMatchForm::LoadFormCodeMap() {
    FormCodeMap.clear();
    const QString path = links::findLinksFile();
    if (!QFileInfo::exists(path)) return;
    auto conn = links::openLinks(path);
    QSqlQuery q = db::exec(conn->db(), QStringLiteral("select mf, nf from forms"));
    while (q.next()) {
        const QString mf = q.value(0).toString().trimmed();
        const QString nf = q.value(1).toString().trimmed();
        if (!mf.isEmpty() && !nf.isEmpty()) FormCodeMap.setValue(mf, nf);
    }
}

void TControlMatchForm::LoadForms() {
    ComboBox1->clear();
    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select id, formname, decipher from forms order by ind"));
    while (q.next())
        ComboBox1->addItem(q.value(1).toString() + QStringLiteral(" - ") + q.value(2).toString(), q.value(0));
    if (ComboBox1->count() > 0) {
        ComboBox1->setCurrentIndex(0);
        LoadTables();
    }
}

void TControlMatchForm::LoadTables() {
    ComboBox2->clear();
    const qint64 id = chosenFormId();
    if (id <= 0) return;
    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select tablen, name from tables where form=? order by tablen"),
                           {id});
    while (q.next()) ComboBox2->addItem(q.value(0).toString() + QStringLiteral(" - ") + q.value(1).toString());
    if (ComboBox2->count() > 0) ComboBox2->setCurrentIndex(0);
}

qint64 TControlMatchForm::chosenFormId() const {
    return ComboBox1->currentIndex() >= 0 ? ComboBox1->currentData().toLongLong() : 0;
}

QString TControlMatchForm::chosenTableText() const {
    return ComboBox2->currentIndex() >= 0 ? beforeDash(ComboBox2->currentText()) : QString();
}

void TControlMatchForm::RadioGroup1Click() {
    for (QWidget *w : {static_cast<QWidget *>(ComboBox1), static_cast<QWidget *>(ComboBox2),
                       static_cast<QWidget *>(Label1), static_cast<QWidget *>(Label2)})
        w->setEnabled(true);
}

void TControlMatchForm::RadioGroup3Click() { RadioGroup1Click(); }

void TControlMatchForm::ComboBox1Click() { LoadTables(); }

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
    Memo1->setPlainText(r.summary.join(u'\n'));
    ProjectLines = r.projectLines;
    ExternalLines = r.externalLines;
    FillResultLists();
    return true;
}

void TControlMatchForm::FillResultLists() {
    const bool only = CheckBox1->isChecked();
    ListBox1->clear();
    ListBox1->addItems(cmatch::filterAndSort(ProjectLines, only));
    ListBox2->clear();
    ListBox2->addItems(cmatch::filterAndSort(ExternalLines, only));
}

void TControlMatchForm::CheckBox1Click() {
    if (!ProjectLines.isEmpty() || !ExternalLines.isEmpty()) FillResultLists();
}

void TControlMatchForm::Button1Click() {
    const QString file = dialogs().openFile(this, QStringLiteral("Выберите файл с контролями минздрава"),
                                            office::documentsFolder(),
                                            QStringLiteral("Текстовые файлы (*.txt);;Все файлы (*.*)"));
    if (file.isEmpty()) return;
    winutil::guarded(this, [&] {
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
        execModal(&list);
    });
}

void TControlMatchForm::Button2Click() {
    ProgressRun run(QStringLiteral("Сопоставление контролей..."));
    CompareControlSets(run.window());
}

void TControlMatchForm::Button3Click() {
    if (!Importer) return;
    int count = 0;
    {
        ProgressRun run(QStringLiteral("Обновление описаний контролей..."), 0, QStringLiteral("Простановка описаний"));
        count = Importer->UpdateControlDescriptions(&run.window());
    }
    showMessage(QStringLiteral("Обновлено описаний: ") + QString::number(count), this);
}

void TControlMatchForm::Button4Click() {
    if (ComboBox1->currentIndex() < 0) {
        showMessage(QStringLiteral("Выберите форму"), this);
        return;
    }
    const qint64 formId = chosenFormId();
    QString formName = beforeDash(ComboBox1->currentText());
    if (formName.isEmpty()) formName = ComboBox1->currentText();
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
