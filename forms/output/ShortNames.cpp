#include "forms/output/ShortNames.h"

#include "engine/TextUtil.h"
#include "platform/Errors.h"
#include "widgets/WindowLayout.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"

#include <QCloseEvent>
#include <algorithm>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QVBoxLayout>

namespace shortnames {

QString filePath() { return paths::programFolder() + QStringLiteral("ShortNames.txt"); }

bool exists() { return QFileInfo::exists(filePath()); }

QStringList load() {
    QStringList lines;
    QString error;
    if (!cp1251::readLines(filePath(), lines, &error))
        throw db::Error(QStringLiteral("Не удалось открыть файл ") + filePath() + QStringLiteral(": ") + error);
    return lines;
}

QString problem(const QString &shortName) {
    static const QString forbidden = QStringLiteral("[]:*?/\\");
    const bool bad = shortName.size() > 31 ||
                     std::any_of(shortName.begin(), shortName.end(), [](QChar c) { return forbidden.contains(c); });
    if (!bad) return QString();
    return QStringLiteral("Короткое название \"%1\" не может быть именем листа. %2.").arg(shortName, kSheetNameRule);
}

void save(const QList<Row> &rows) {
    QStringList lines;
    lines.reserve(rows.size());
    for (const Row &r : rows) {
        const QString shortName = text::entry(r.second).left(kShortNameLength);
        if (const QString why = problem(shortName); !why.isEmpty()) throw db::Error(why);
        lines.append(text::entry(r.first) + QLatin1Char('\t') + shortName);
    }
    QString error;
    if (!cp1251::writeLines(filePath(), lines, &error))
        throw db::Error(QStringLiteral("Не удалось записать файл ") + filePath() + QStringLiteral(": ") + error);
}

Row splitLine(const QString &line) {
    const int tab = int(line.indexOf(QLatin1Char('\t')));
    if (tab < 0) return {QString(), line};
    return {line.left(tab), line.mid(tab + 1)};
}

QString LookupShortName(const QString &fullName, const QStringList &list) {
    for (const QString &line : list) {
        const Row r = splitLine(line);
        if (r.first == fullName) return r.second;
    }
    return QString();
}

bool hasLine(const QString &fullName, const QStringList &list) {
    for (const QString &line : list)
        if (splitLine(line).first == fullName) return true;
    return false;
}

QList<Row> institutionRows(const QStringList &list) {
    QList<Row> rows;
    QStringList units;
    QSqlQuery q = db::exec(db::connection(db::kMain),
                           QStringLiteral("select unit from administration where medicaltype<>-1 order by id"));
    while (q.next()) units.append(q.value(0).toString());
    text::sortNames(units);
    for (const QString &unit : units) rows.append({unit, LookupShortName(unit, list)});
    return rows;
}

QString GetShortName(const QString &fullName, const QStringList &list, QWidget *parent) {
    QString result = LookupShortName(fullName, list);
    if (!result.isEmpty()) return result;
    TForm6 form(parent);
    if (hasLine(fullName, list))
        form.Label1->setText(QStringLiteral("Не задано сокращенное наименование для") + QStringLiteral("\n\r") +
                             fullName);
    else
        form.Label1->setText(fullName + QStringLiteral("\n\r") +
                             QStringLiteral("отсутствует в списке сокращенных наименований"));
    execModal(&form);
    result = form.Edit1->text();
    showMessage(QStringLiteral("Пожалуйста, не забудьте подкорректировать список сокращенных наименований!"), parent);
    return result;
}

} // namespace shortnames

// ---- Editor -----------------------------------------------------------------------

TForm5::TForm5(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Пожалуйста, введите сокращенные наименования для ЛПУ"));
    StringGrid1 = new QTableWidget(5, 2, this);
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setColumnWidth(0, 500);
    StringGrid1->setColumnWidth(1, 250);
    StringGrid1->verticalHeader()->setDefaultSectionSize(19);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Отмена"), this);
    Button1 = new QPushButton(QStringLiteral("Обновить список ЛПУ"), this);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm5::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(StringGrid1, 1);
    layout->addLayout(buttons);
    winutil::fitToScreen(this, QSize(790, 480));
    winutil::guarded(this, [&] { FormCreate(); });
}

QList<shortnames::Row> TForm5::rows() const {
    QList<shortnames::Row> out;
    for (int r = 0; r < StringGrid1->rowCount(); ++r) {
        const QTableWidgetItem *a = StringGrid1->item(r, 0);
        const QTableWidgetItem *b = StringGrid1->item(r, 1);
        out.append({a ? a->text() : QString(), b ? b->text() : QString()});
    }
    return out;
}

void TForm5::setRows(const QList<shortnames::Row> &rows) {
    StringGrid1->clearContents();
    StringGrid1->setRowCount(std::max(5, int(rows.size())));
    for (int r = 0; r < rows.size(); ++r) {
        StringGrid1->setItem(r, 0, new QTableWidgetItem(rows[r].first));
        StringGrid1->setItem(r, 1, new QTableWidgetItem(rows[r].second));
    }
}

void TForm5::FormCreate() {
    QList<shortnames::Row> rows;
    if (shortnames::exists()) {
        for (const QString &line : shortnames::load()) rows.append(shortnames::splitLine(line));
    } else {
        rows = shortnames::institutionRows({});
    }
    setRows(rows);
}

void TForm5::BitBtn1Click() {
    winutil::guarded(this, [&] {
        shortnames::save(rows());
        accept();
    });
}

void TForm5::Button1Click() {
    winutil::guarded(this, [&] {
        const QStringList list = shortnames::exists() ? shortnames::load() : QStringList();
        const QList<shortnames::Row> r = shortnames::institutionRows(list);
        setRows(r);
        StringGrid1->setRowCount(int(r.size()));
    });
}

// ---- Prompt -------------------------------------------------------------------------

TForm6::TForm6(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Не задано сокращенное наименование МО"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    Label1 = new QLabel(this);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    Label2 = new QLabel(this);
    Label2->setWordWrap(true);
    Edit1 = new QLineEdit(this);
    Edit1->setMaxLength(31);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setDefault(true);
    BitBtn1->setVisible(false);
    connect(Edit1, &QLineEdit::textChanged, this, &TForm6::Edit1Change);
    Edit1Change();
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addWidget(Edit1);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(BitBtn1);
    row->addStretch(1);
    layout->addLayout(row);
    resize(420, 200);
}

void TForm6::Edit1Change() {
    const QString why = shortnames::problem(Edit1->text());
    BitBtn1->setVisible(!Edit1->text().isEmpty() && why.isEmpty());
    Label2->setText(why.isEmpty() ? QStringLiteral("Пожалуйста, задайте сокращенное наименование  для вышеуказанной МО")
                                  : shortnames::kSheetNameRule);
}

void TForm6::keyPressEvent(QKeyEvent *event) {
    // The prompt closes only through its OK button.
    if (event->key() == Qt::Key_Escape) return;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && Edit1->text().isEmpty()) return;
    QDialog::keyPressEvent(event);
}

void TForm6::closeEvent(QCloseEvent *event) {
    if (result() != QDialog::Accepted) event->ignore();
    else QDialog::closeEvent(event);
}

void openShortNamesEditor(QWidget *parent) {
    TForm5 w(parent);
    execModal(&w);
}
