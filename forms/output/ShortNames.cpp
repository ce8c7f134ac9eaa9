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
        form.setInstitutionText(QStringLiteral("Не задано сокращенное наименование для") + QStringLiteral("\n\r") +
                                fullName);
    else
        form.setInstitutionText(fullName + QStringLiteral("\n\r") +
                                QStringLiteral("отсутствует в списке сокращенных наименований"));
    execModal(&form);
    result = form.shortName();
    showMessage(QStringLiteral("Пожалуйста, не забудьте подкорректировать список сокращенных наименований!"), parent);
    return result;
}

} // namespace shortnames

// ---- Editor -----------------------------------------------------------------------

TForm5::TForm5(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Пожалуйста, введите сокращенные наименования для ЛПУ"));
    m_ui.grid = new QTableWidget(5, 2, this);
    m_ui.grid->horizontalHeader()->hide();
    m_ui.grid->verticalHeader()->hide();
    // The short name's column is always in view, as wide as the longest short
    // name; the full names take what is left, shortened with "…" and whole in
    // their tips, so that a narrow screen needs no scrolling past them.
    QHeaderView *columns = m_ui.grid->horizontalHeader();
    columns->setSectionResizeMode(0, QHeaderView::Stretch);
    columns->setSectionResizeMode(1, QHeaderView::Fixed);
    m_ui.grid->setColumnWidth(1, m_ui.grid->fontMetrics().averageCharWidth() * shortnames::kShortNameLength + 12);
    m_ui.grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_ui.grid->setMinimumWidth(m_ui.grid->columnWidth(1) + 160);
    resize(800, 500);
    m_ui.grid->verticalHeader()->setDefaultSectionSize(19);
    m_ui.grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.cancel = new QPushButton(QStringLiteral("Отмена"), this);
    m_ui.refresh = new QPushButton(QStringLiteral("Обновить список ЛПУ"), this);
    m_ui.ok->setDefault(true);
    connect(m_ui.ok, &QPushButton::clicked, this, &TForm5::saveList);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.refresh, &QPushButton::clicked, this, &TForm5::refreshInstitutions);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_ui.refresh);
    buttons->addStretch(1);
    buttons->addWidget(m_ui.ok);
    buttons->addWidget(m_ui.cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_ui.grid, 1);
    layout->addLayout(buttons);
    winutil::fitToScreen(this, QSize(790, 480));
    winutil::guarded(this, [&] { FormCreate(); });
}

QList<shortnames::Row> TForm5::rows() const {
    QList<shortnames::Row> out;
    for (int r = 0; r < m_ui.grid->rowCount(); ++r) {
        const QTableWidgetItem *a = m_ui.grid->item(r, 0);
        const QTableWidgetItem *b = m_ui.grid->item(r, 1);
        out.append({a ? a->text() : QString(), b ? b->text() : QString()});
    }
    return out;
}

void TForm5::setRows(const QList<shortnames::Row> &rows) {
    m_ui.grid->clearContents();
    m_ui.grid->setRowCount(std::max(5, int(rows.size())));
    for (int r = 0; r < rows.size(); ++r) {
        auto *full = new QTableWidgetItem(rows[r].first);
        full->setToolTip(rows[r].first);
        m_ui.grid->setItem(r, 0, full);
        m_ui.grid->setItem(r, 1, new QTableWidgetItem(rows[r].second));
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

void TForm5::saveList() {
    winutil::guarded(this, [&] {
        shortnames::save(rows());
        accept();
    });
}

void TForm5::refreshInstitutions() {
    winutil::guarded(this, [&] {
        const QStringList list = shortnames::exists() ? shortnames::load() : QStringList();
        const QList<shortnames::Row> r = shortnames::institutionRows(list);
        setRows(r);
        m_ui.grid->setRowCount(int(r.size()));
    });
}

// ---- Prompt -------------------------------------------------------------------------

TForm6::TForm6(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Не задано сокращенное наименование МО"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    m_ui.institution = new QLabel(this);
    QFont bold = m_ui.institution->font();
    bold.setBold(true);
    m_ui.institution->setFont(bold);
    m_ui.institution->setAlignment(Qt::AlignCenter);
    m_ui.institution->setWordWrap(true);
    m_ui.hint = new QLabel(this);
    m_ui.hint->setWordWrap(true);
    m_ui.shortName = new QLineEdit(this);
    m_ui.shortName->setMaxLength(31);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.ok->setDefault(true);
    m_ui.ok->setVisible(false);
    connect(m_ui.shortName, &QLineEdit::textChanged, this, &TForm6::shortNameChanged);
    shortNameChanged();
    connect(m_ui.ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_ui.institution);
    layout->addWidget(m_ui.hint);
    layout->addWidget(m_ui.shortName);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_ui.ok);
    row->addStretch(1);
    layout->addLayout(row);
    resize(420, 200);
}

void TForm6::setInstitutionText(const QString &text) { m_ui.institution->setText(text); }

QString TForm6::shortName() const { return m_ui.shortName->text(); }

void TForm6::shortNameChanged() {
    const QString why = shortnames::problem(m_ui.shortName->text());
    m_ui.ok->setVisible(!m_ui.shortName->text().isEmpty() && why.isEmpty());
    m_ui.hint->setText(why.isEmpty() ? QStringLiteral("Пожалуйста, задайте сокращенное наименование  для вышеуказанной МО")
                                  : shortnames::kSheetNameRule);
}

void TForm6::keyPressEvent(QKeyEvent *event) {
    // The prompt closes only through its OK button.
    if (event->key() == Qt::Key_Escape) return;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_ui.shortName->text().isEmpty()) return;
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
