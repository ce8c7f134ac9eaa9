#include "engine/CatalogGate.h"

#include "engine/EngineError.h"
#include "engine/Notation.h"
#include "engine/TableLimits.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QSqlQuery>

namespace gate {

namespace {

QString lineFieldFault(const QString &what, const QString &value) {
    if (value.contains(QLatin1Char('#')))
        return QStringLiteral("%1 не может содержать символ \"#\": \"%2\"").arg(what, value);
    if (value.contains(QLatin1Char(':')))
        return QStringLiteral("%1 не может содержать символ \":\": \"%2\"").arg(what, value);
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        return QStringLiteral("%1 не может содержать перевод строки: \"%2\"").arg(what, value);
    return QString();
}

void refuse(const QString &fault) {
    if (!fault.isEmpty()) throw EngineError(fault);
}

qint64 formOfTable(const QSqlDatabase &db, qint64 ident) {
    const QVariant v = db::scalar(db, QStringLiteral("select form from tables where ident=?"), {ident});
    if (!v.isValid()) throw EngineError(QStringLiteral("Таблица не определена!"));
    return v.toLongLong();
}

// The stored text of one row; empty when there is none.
QString storedText(const QSqlDatabase &db, const QString &sql, qint64 key) {
    return db::scalar(db, sql, {key}).toString();
}

// The same name, letter case and blanks inside included (blanks around it do not count).
bool sameBytes(const QString &stored, const QString &typed) {
    return !stored.isNull() && stored.trimmed().compare(text::tabsToBlanks(typed).trimmed(), Qt::CaseSensitive) == 0;
}

} // namespace

// Names are compared as every look-up compares them: blanks around them
// and letter case (Cyrillic included) do not count.
bool sameName(const QString &a, const QString &b) { return text::sameName(a, b); }

QString formNameFormatFault(const QString &formname) {
    if (formname.trimmed().isEmpty()) return QStringLiteral("Введите наименование формы!");
    if (const QString fault = lineFieldFault(QStringLiteral("Наименование формы"), formname); !fault.isEmpty())
        return fault;
    // The print files and update packages carry the form's name as a file name.
    static const QString notInFileNames = QStringLiteral("/\\");
    for (const QChar c : formname)
        if (notInFileNames.contains(c) || c.unicode() < 32)
            return QStringLiteral("Наименование формы не может содержать символ \"%1\": по нему называются файлы "
                                  "печати формы: \"%2\"")
                .arg(c.unicode() < 32 ? QStringLiteral("\\t") : QString(c), formname);
    // "." and ".." name folders: "<name>/" of an update package would be the
    // package's own folder or the one above it.
    if (formname.trimmed() == QStringLiteral(".") || formname.trimmed() == QStringLiteral(".."))
        return QStringLiteral("Наименование формы не может быть \"%1\": по нему называются файлы печати формы и "
                              "папка формы в пакете обновления")
            .arg(formname.trimmed());
    // A structure file line that begins with "стр", "гр" or "заг" and a digit
    // is a row, column or title line: a form of such a name could be written
    // but never read back.
    const QString upper = text::upper(formname.trimmed());
    for (const QString &tag : {QStringLiteral("СТР"), QStringLiteral("ГР"), QStringLiteral("ЗАГ")})
        if (upper.startsWith(tag) && upper.size() > tag.size() && upper.at(tag.size()).isDigit())
            return QStringLiteral("Наименование формы не может начинаться с \"%1\" и цифры (так начинаются строки "
                                  "описания таблиц в файлах структуры): \"%2\"")
                .arg(tag.toLower(), formname);
    // The longest file named after the form, an update package's
    // "controls_<name>.orv", is still a file name while the checked writer
    // writes it under its temporary name (".XXXXXX" more).
    constexpr int kFileNameBytes = 255;
    constexpr int kWriterSuffixBytes = 7;
    if (formname.trimmed().toUtf8().size() + int(sizeof("controls_.orv")) - 1 + kWriterSuffixBytes > kFileNameBytes)
        return QStringLiteral("Наименование формы слишком длинное: по нему называются файлы печати формы, а имя "
                              "файла не может быть длиннее %1 байт (русская буква занимает два)")
            .arg(kFileNameBytes);
    return QString();
}

QString tableNumberFormatFault(const QString &tablen) {
    const QString example = QStringLiteral(
        "Номер таблицы пишется в скобках, внутри которых непустой текст без скобок, например (1000): \"%1\"");
    if (tablen.size() < 3 || !tablen.startsWith(QLatin1Char('(')) || !tablen.endsWith(QLatin1Char(')')))
        return example.arg(tablen);
    const QString inner = tablen.mid(1, tablen.size() - 2);
    if (inner.trimmed().isEmpty() || inner.contains(QLatin1Char('(')) || inner.contains(QLatin1Char(')')))
        return example.arg(tablen);
    if (const QString fault = lineFieldFault(QStringLiteral("Номер таблицы"), tablen); !fault.isEmpty()) return fault;
    // A reference names the table as Т[<inner>]: blanks at the ends of the
    // inner text are dropped there, and the notation's own words would be
    // read as the start of the form, row or column part.
    if (inner.trimmed() != inner || inner.contains(QLatin1Char('\t')))
        return QStringLiteral("Номер таблицы не может начинаться или заканчиваться пробелом внутри скобок: \"%1\"")
            .arg(tablen);
    if (inner.contains(QLatin1Char('[')) || inner.contains(QLatin1Char(']')))
        return example.arg(tablen);
    // The first of the notation's words it holds: rows, columns, then the form.
    const notation::Markers m = notation::FindMarkers(text::upper(inner));
    const QString word = m.rows.found()      ? notation::Marker(notation::Line::Rows)
                         : m.columns.found() ? notation::Marker(notation::Line::Columns)
                         : m.form.found()    ? QStringLiteral("Ф")
                                             : QString();
    if (!word.isEmpty())
        return QStringLiteral("Номер таблицы не может содержать \"%1\": в ссылках на ячейки так начинаются "
                              "части формы, строк и граф: \"%2\"")
            .arg(word, tablen);
    return QString();
}

QString formNameFault(const QString &formname) {
    if (const QString fault = formNameFormatFault(formname); !fault.isEmpty()) return fault;
    return notation::FormNameProblem(formname);
}

QString tableNumberFault(const QString &tablen) {
    if (const QString fault = tableNumberFormatFault(tablen); !fault.isEmpty()) return fault;
    return notation::TableNumberProblem(tablen);
}

std::optional<FoundForm> findForm(const QSqlDatabase &db, const QString &formname) {
    QSqlQuery q = db::exec(db, QStringLiteral("select id, formname from forms order by id"));
    while (q.next())
        if (sameName(q.value(1).toString(), formname)) return FoundForm{q.value(0).toLongLong(), q.value(1).toString()};
    return std::nullopt;
}

std::optional<FoundTable> findTable(const QSqlDatabase &db, qint64 formId, const QString &tablen) {
    QSqlQuery q = db::exec(db, QStringLiteral("select ident, tablen from tables where form=? order by ident"), {formId});
    while (q.next())
        if (sameName(q.value(1).toString(), tablen)) return FoundTable{q.value(0).toLongLong(), q.value(1).toString()};
    return std::nullopt;
}

QString formIdentityFault(const QSqlDatabase &db, const QString &formname, qint64 selfId) {
    // A name kept as it is stored is not refused for what only new names must keep.
    const bool kept = selfId > 0 && sameBytes(storedText(db, QStringLiteral("select formname from forms where id=?"), selfId),
                                              formname);
    if (const QString fault = kept ? formNameFormatFault(formname) : formNameFault(formname); !fault.isEmpty())
        return fault;
    QSqlQuery q = db::exec(db, QStringLiteral("select id, formname from forms where id<>? order by id"), {selfId});
    while (q.next())
        if (sameName(q.value(1).toString(), formname))
            return QStringLiteral("Форма \"%1\" уже есть в каталоге: наименования форм не должны различаться "
                                  "только регистром букв")
                .arg(q.value(1).toString());
    return QString();
}

QString tableIdentityFault(const QSqlDatabase &db, qint64 formId, const QString &tablen, qint64 selfIdent) {
    const bool kept = selfIdent > 0 && sameBytes(storedText(db, QStringLiteral("select tablen from tables where ident=?"),
                                                            selfIdent),
                                                 tablen);
    if (const QString fault = kept ? tableNumberFormatFault(tablen) : tableNumberFault(tablen); !fault.isEmpty())
        return fault;
    QSqlQuery q = db::exec(db, QStringLiteral("select ident, tablen from tables where form=? and ident<>?"),
                           {formId, selfIdent});
    while (q.next())
        if (sameName(q.value(1).toString(), tablen))
            return QStringLiteral("Таблица %1 уже есть в этой форме: номера таблиц формы не должны повторяться")
                .arg(q.value(1).toString());
    return QString();
}

// ---- writes --------------------------------------------------------------------------

// A name as typed: a Tab is a blank, blanks around it do not count; a line
// break stays, for the identity check to refuse. Characters code page 1251
// cannot hold are refused (text::entry), as for every text below.
static QString typedName(const QString &s, const QString &field = QStringLiteral("Наименование формы")) {
    return text::entry(s, text::Field::MultiLine, field).trimmed();
}
static QString typedText(const QString &s, const QString &field) { return text::entry(s, text::Field::OneLine, field); }
static const QString kDecipher = QStringLiteral("Содержание формы");
static const QString kTableName = QStringLiteral("Содержание таблицы");
static const QString kTableNumber = QStringLiteral("Номер таблицы");
// A form or table deleted behind the window that edits it takes no change.
static const QString kFormGone =
    QStringLiteral("Форма удалена в другом окне или другой копией программы. Изменение не сохранено.");
static const QString kTableGone =
    QStringLiteral("Таблица удалена в другом окне или другой копией программы. Изменение не сохранено.");

qint64 addForm(const QSqlDatabase &db, const QString &formname, const QString &decipher, bool net) {
    const QString name = typedName(formname);
    refuse(formIdentityFault(db, name, 0));
    db::exec(db, QStringLiteral("insert into forms (formname,decipher,ind,net) values (?,?,999,?)"),
             {name, typedText(decipher, kDecipher), net});
    return db::lastInsertId(db);
}

void updateForm(const QSqlDatabase &db, qint64 id, const QString &formname, const QString &decipher, bool net) {
    const QString name = typedName(formname);
    refuse(formIdentityFault(db, name, id));
    db::execRow(db, QStringLiteral("update forms set formname=?, decipher=?, net=? where id=?"),
                {name, typedText(decipher, kDecipher), net, id}, kFormGone);
}

void setFormOrder(const QSqlDatabase &db, qint64 id, int ind) {
    db::execRow(db, QStringLiteral("update forms set ind=? where id=?"), {ind, id}, kFormGone);
}

PutForm putForm(const QSqlDatabase &db, const QString &formname, const QString &decipher, bool net) {
    // A form already stored keeps its name: only a new one must be a name references can name.
    refuse(formNameFormatFault(typedName(formname)));
    if (const std::optional<FoundForm> f = findForm(db, typedName(formname))) {
        db::execRow(db, QStringLiteral("update forms set decipher=?, net=? where id=?"),
                    {typedText(decipher, kDecipher), net, f->id}, kFormGone);
        return PutForm{f->id, false, f->formname};
    }
    return PutForm{addForm(db, formname, decipher, net), true, typedName(formname)};
}

qint64 addTable(const QSqlDatabase &db, qint64 formId, const QString &tablen, const QString &name,
                const TableShape &shape) {
    refuse(tableIdentityFault(db, formId, typedName(tablen, kTableNumber), 0));
    refuse(shapecheck::countsFault(shape));
    db::exec(db,
             QStringLiteral("insert into tables (form,tablen,name,colcount,rowcount,fixcols,fixrows,floattype,scan) "
                            "values (?,?,?,?,?,?,?,?,?)"),
             {formId, typedName(tablen, kTableNumber), typedText(name, kTableName), shape.colcount, shape.rowcount, shape.fixcols, shape.fixrows,
              shape.floatValues, shape.scan});
    return db::lastInsertId(db);
}

void updateTable(const QSqlDatabase &db, qint64 ident, const QString &tablen, const QString &name, bool floattype,
                 int scan) {
    refuse(tableIdentityFault(db, formOfTable(db, ident), typedName(tablen, kTableNumber), ident));
    TableShape s = ReadTableShape(db, ident);
    s.scan = scan;
    refuse(shapecheck::countsFault(s));
    db::execRow(db, QStringLiteral("update tables set tablen=?, name=?, floattype=?, scan=? where ident=?"),
                {typedName(tablen, kTableNumber), typedText(name, kTableName), floattype, scan, ident}, kTableGone);
}

void setTableDefinition(const QSqlDatabase &db, qint64 ident, const QString &name, const TableShape &shape) {
    refuse(shapecheck::countsFault(shape));
    db::execRow(db,
                QStringLiteral("update tables set name=?, colcount=?, rowcount=?, fixcols=?, fixrows=?, floattype=?, "
                               "scan=? where ident=?"),
                {typedText(name, kTableName), shape.colcount, shape.rowcount, shape.fixcols, shape.fixrows,
                 shape.floatValues, shape.scan, ident},
                kTableGone);
}

void setTableSizes(const QSqlDatabase &db, qint64 ident, int colcount, int rowcount, int fixcols, int fixrows) {
    TableShape s = ReadTableShape(db, ident);
    s.colcount = colcount;
    s.rowcount = rowcount;
    s.fixcols = fixcols;
    s.fixrows = fixrows;
    refuse(shapecheck::countsFault(s));
    db::execRow(db, QStringLiteral("update tables set colcount=?, rowcount=?, fixcols=?, fixrows=? where ident=?"),
                {colcount, rowcount, fixcols, fixrows, ident}, kTableGone);
}

void stepTableLines(const QSqlDatabase &db, qint64 ident, bool rows, int delta) {
    TableShape s = ReadTableShape(db, ident);
    (rows ? s.rowcount : s.colcount) += delta;
    if (!limits::tableSizeFits(s.colcount, s.rowcount))
        throw EngineError(rows ? QStringLiteral("В таблице не может быть больше %1 строк").arg(limits::kMaxTableRows)
                               : QStringLiteral("В таблице не может быть больше %1 граф").arg(limits::kMaxTableColumns));
    refuse(shapecheck::countsFault(s));
    db::execRow(db,
                rows ? QStringLiteral("update tables set rowcount=? where ident=?")
                     : QStringLiteral("update tables set colcount=? where ident=?"),
                {rows ? s.rowcount : s.colcount, ident}, kTableGone);
}

void setTableFloat(const QSqlDatabase &db, qint64 ident, bool floattype) {
    db::execRow(db, QStringLiteral("update tables set floattype=? where ident=?"), {floattype, ident}, kTableGone);
}

} // namespace gate
