#include "forms/FormCatalogLogic.h"

#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/TableLimits.h"
#include "engine/TextUtil.h"
#include "forms/StructureEdit.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QSqlQuery>
#include <cmath>

Q_LOGGING_CATEGORY(lcFrsImport, "kelvana.frs", QtWarningMsg)

namespace catalog {

namespace {

const QString kHash = QStringLiteral("#");
const QString kRowTag = QStringLiteral("стр");
const QString kColumnTag = QStringLiteral("гр");
const QString kTitleTag = QStringLiteral("заг");

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QString noColon(QString s) { return s.remove(QLatin1Char(':')); }
QString trueFalse(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }

QString sizeText(const QVariant &v) {
    QString s = num::general(v.toDouble());
    s.replace(QLatin1Char(','), QLatin1Char('.'));
    return s;
}
QString intText(const QVariant &v) { return QString::number(v.toLongLong()); }

// Deletes the values of the tables in every values file of the year.
void deleteValues(const QList<qint64> &idents) {
    if (idents.isEmpty()) return;
    const QString in = db::inList(idents);
    auto clear = [&](const QSqlDatabase &d) {
        db::transaction(d, [&] {
            db::exec(d, QStringLiteral("delete from data where \"table\" in (%1)").arg(in));
            db::exec(d, QStringLiteral("delete from repdata where \"table\" in (%1)").arg(in));
        });
    };
    const QString open = db::isOpen(db::kData) ? QFileInfo(db::fileOf(db::kData)).canonicalFilePath() : QString();
    if (!open.isEmpty()) clear(db::connection(db::kData));
    for (const QString &file : structedit::yearValuesFiles(mainDb(), shared().yearFolder(), QString())) {
        if (file == open) continue;
        db::ScopedConnection c(file, db::OpenMode::ReadWrite, QStringLiteral("values"));
        clear(c.db());
    }
}

void deleteStructure(const QSqlDatabase &d, qint64 ident) {
    const QVariantList p{ident};
    db::exec(d, QStringLiteral("delete from \"rows\" where \"table\"=?"), p);
    db::exec(d, QStringLiteral("delete from \"columns\" where \"table\"=?"), p);
    db::exec(d, QStringLiteral("delete from titles where \"table\"=?"), p);
}

// ---- reading --------------------------------------------------------------------

QString fileError(int line, const QString &text, const QString &reason) {
    return QStringLiteral("Ошибка на строке %1\r\nСтрока: %2\r\nОшибка: %3").arg(line).arg(text, reason);
}

struct FieldReader {
    QStringList fields;
    int line;
    QString text;

    [[noreturn]] void fail(const QString &reason) const { throw Error(fileError(line, text, reason)); }
    void need(int count) const {
        if (fields.size() < count)
            fail(QStringLiteral("ожидалось полей: %1, найдено: %2").arg(count).arg(fields.size()));
    }
    int integer(int i, const QString &what) const {
        bool ok = false;
        const int v = fields.value(i).trimmed().toInt(&ok);
        if (!ok) fail(QStringLiteral("поле \"%1\" должно быть целым числом: \"%2\"").arg(what, fields.value(i)));
        return v;
    }
    double number(int i, const QString &what) const {
        double v = 0;
        if (!num::parse(fields.value(i), v))
            fail(QStringLiteral("поле \"%1\" должно быть числом: \"%2\"").arg(what, fields.value(i)));
        return v;
    }
    bool boolean(int i, const QString &what) const {
        const QString t = fields.value(i).trimmed().toLower();
        if (t == QLatin1String("true") || t == QLatin1String("1")) return true;
        if (t == QLatin1String("false") || t == QLatin1String("0")) return false;
        fail(QStringLiteral("поле \"%1\" должно быть True или False: \"%2\"").arg(what, fields.value(i)));
    }
};

FrsRowCol readRowCol(const QString &text, int line, const QString &tag, const QString &what) {
    FieldReader r{text.mid(tag.size()).split(kHash), line, text};
    r.need(2);
    if (const QString fault = frsLineFault(text, false); !fault.isEmpty()) r.fail(fault);
    return FrsRowCol{r.integer(0, what), r.number(1, what == QLatin1String("row") ? QStringLiteral("height")
                                                                                     : QStringLiteral("width")),
                     line};
}

FrsTitle readTitle(const QString &text, int line) {
    const QStringList parts = text.mid(kTitleTag.size()).split(kHash);
    FieldReader r{parts, line, text};
    r.need(12);
    FrsTitle t;
    t.column = r.integer(0, QStringLiteral("column"));
    t.row = r.integer(1, QStringLiteral("row"));
    t.sc = r.integer(2, QStringLiteral("union_sc"));
    t.sr = r.integer(3, QStringLiteral("union_sr"));
    t.ec = r.integer(4, QStringLiteral("union_ec"));
    t.er = r.integer(5, QStringLiteral("union_er"));
    t.fontname = parts[6];
    t.fontsize = r.integer(7, QStringLiteral("fontsize"));
    t.bold = r.boolean(8, QStringLiteral("fontbold"));
    t.italic = r.boolean(9, QStringLiteral("fontitalic"));
    t.tchars = parts[10];
    // The text is the last field: a "#" inside it stays part of it.
    QString txt = parts.mid(11).join(kHash);
    txt.replace(QLatin1Char(':'), QChar(3));
    t.txt = text::decodeLineBreaks(txt);
    t.line = line;
    return t;
}

FrsTable readTable(const QString &text, int line) {
    FieldReader r{text.split(kHash), line, text};
    r.need(8);
    if (const QString fault = frsLineFault(text, false); !fault.isEmpty()) r.fail(fault);
    FrsTable t;
    t.tablen = r.fields[0];
    t.name = r.fields[1];
    t.colcount = r.integer(2, QStringLiteral("colcount"));
    t.rowcount = r.integer(3, QStringLiteral("rowcount"));
    t.fixcols = r.integer(4, QStringLiteral("fixcols"));
    t.fixrows = r.integer(5, QStringLiteral("fixrows"));
    t.floattype = r.boolean(6, QStringLiteral("floattype"));
    t.scan = r.fields[7].trimmed().isEmpty() ? 0 : r.integer(7, QStringLiteral("scan"));
    t.line = line;
    if (!limits::tableSizeFits(t.colcount, t.rowcount))
        r.fail(QStringLiteral("размер таблицы %1 x %2 недопустим (граф от 0 до %3, строк от 0 до %4)")
                   .arg(t.colcount)
                   .arg(t.rowcount)
                   .arg(limits::kMaxTableColumns)
                   .arg(limits::kMaxTableRows));
    return t;
}

// ---- writing in the database ----------------------------------------------------------

// Runs one statement of the import; a failure names the file line.
struct ImportRunner {
    QSqlDatabase d;
    int line = 0;
    QSqlQuery run(const QString &sql, const QVariantList &params = {}) {
        qCDebug(lcFrsImport).noquote() << QStringLiteral("Импорт: Строка %1, SQL: %2").arg(line).arg(sql);
        try {
            return db::exec(d, sql, params);
        } catch (const db::Error &e) {
            throw Error(QStringLiteral("Ошибка на строке %1\r\nSQL: %2\r\nОшибка: %3").arg(line).arg(sql, e.message()));
        }
    }
};

} // namespace

QString yesNo(bool value) { return value ? QStringLiteral("Да") : QStringLiteral("Нет"); }

// ---- forms -------------------------------------------------------------------------

QList<FormRow> listForms() {
    QList<FormRow> out;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select id, formname, decipher, net from forms order by ind"));
    while (q.next()) out.append(FormRow{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                                        q.value(3).toBool()});
    return out;
}

qint64 addForm(const QString &formname, const QString &decipher, bool net) {
    const QSqlDatabase d = mainDb();
    db::exec(d, QStringLiteral("insert into forms (formname,decipher,ind,net) values (?,?,999,?)"),
             {text::tabsToBlanks(formname), text::tabsToBlanks(decipher), net});
    return db::lastInsertId(d);
}

void updateForm(qint64 id, const QString &formname, const QString &decipher, bool net) {
    db::exec(mainDb(), QStringLiteral("update forms set formname=?, decipher=?, net=? where id=?"),
             {text::tabsToBlanks(formname), text::tabsToBlanks(decipher), net, id});
}

void deleteForm(qint64 id) {
    const QSqlDatabase d = mainDb();
    QList<qint64> idents;
    for (const QVariant &v : db::column(d, QStringLiteral("select ident from tables where form=?"), {id}))
        idents.append(v.toLongLong());
    // Values first: when they cannot be deleted the definitions stay, so the
    // command can be repeated.
    deleteValues(idents);
    db::transaction(d, [&] {
        db::exec(d, QStringLiteral("delete from med_type_forms where formsid=?"), {id});
        db::exec(d, QStringLiteral("delete from forms where id=?"), {id});
        for (qint64 ident : idents) {
            deleteStructure(d, ident);
            db::exec(d, QStringLiteral("delete from conditions where tid=?"), {ident});
        }
        db::exec(d, QStringLiteral("delete from tables where form=?"), {id});
    });
}

void saveFormOrder(const QList<qint64> &idsInOrder) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        for (int i = 0; i < idsInOrder.size(); ++i)
            db::exec(d, QStringLiteral("update forms set ind=? where id=?"), {i, idsInOrder[i]});
    });
}

// ---- tables ---------------------------------------------------------------------------

QList<TableRow> listTables(qint64 formId) {
    QList<TableRow> out;
    QSqlQuery q = db::exec(mainDb(),
                           QStringLiteral("select ident, tablen, name, floattype, scan from tables where form=? "
                                          "order by tablen asc"),
                           {formId});
    while (q.next())
        out.append(TableRow{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                            q.value(3).toBool(), q.value(4).toInt()});
    return out;
}

void updateTable(qint64 ident, const QString &tablen, const QString &name, bool floattype, int scan) {
    db::exec(mainDb(), QStringLiteral("update tables set tablen=?, name=?, floattype=?, scan=? where ident=?"),
             {tablen, text::tabsToBlanks(name), floattype, scan, ident});
}

void DeleteTableWithData(qint64 ident) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        try {
            db::exec(d, QStringLiteral("delete from conditions where tid=?"), {ident});
        } catch (const db::Error &) {
            // A main database without calculated cells: nothing to delete.
        }
        deleteStructure(d, ident);
        db::exec(d, QStringLiteral("delete from tables where ident=?"), {ident});
    });
    deleteValues({ident});
}

// ---- structure files ---------------------------------------------------------------------

QString frsFieldFault(const QString &what, const QString &value, bool lastOnLine) {
    if (!lastOnLine && value.contains(kHash))
        return QStringLiteral("Поле \"%1\" содержит символ \"#\", который разделяет поля файла структуры формы: "
                              "\"%2\"")
            .arg(what, value);
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        return QStringLiteral("Поле \"%1\" содержит перевод строки: \"%2\"").arg(what, value);
    return QString();
}

QString frsLineFault(const QString &line, bool formLine) {
    int fields = 0;   // the most a line of its kind has; 0: no limit
    if (formLine) fields = 3;
    else if (line.startsWith(QLatin1Char('('))) fields = 8;
    else if (line.startsWith(kRowTag) || line.startsWith(kColumnTag)) fields = 2;
    const int found = int(line.count(kHash)) + 1;
    if (fields == 0 || found <= fields) return QString();
    return QStringLiteral("полей %1 вместо %2: символ \"#\" внутри поля, прочитать строку однозначно нельзя")
        .arg(found)
        .arg(fields);
}

QString formFieldsFault(const QString &formname, const QString &decipher) {
    QString fault = frsFieldFault(QStringLiteral("Форма"), formname);
    if (fault.isEmpty()) fault = frsFieldFault(QStringLiteral("Содержание"), decipher);
    return fault;
}

QString tableFieldsFault(const QString &tablen, const QString &name) {
    QString fault = frsFieldFault(QStringLiteral("Номер"), tablen);
    if (fault.isEmpty() && !(tablen.startsWith(QLatin1Char('(')) && tablen.endsWith(QLatin1Char(')'))))
        fault = QStringLiteral("Номер таблицы пишется в скобках, например (1000): \"%1\"").arg(tablen);
    if (fault.isEmpty()) fault = frsFieldFault(QStringLiteral("Содержание"), name);
    return fault;
}

QStringList frsLines(qint64 formId) {
    const QSqlDatabase d = mainDb();
    QSqlQuery f = db::exec(d, QStringLiteral("select formname, decipher, net from forms where id=?"), {formId});
    if (!f.next()) throw Error(QStringLiteral("Форма не найдена"));
    // A text that would read back as another one stops the export: the file
    // would change the form (or another one) on import.
    auto field = [](const QString &what, const QString &value) {
        const QString fault = frsFieldFault(what, value);
        if (!fault.isEmpty())
            throw Error(QStringLiteral("Файл структуры формы не записан.\r\n") + fault +
                        QStringLiteral("\r\nИсправьте текст и повторите экспорт."));
        return value;
    };
    QStringList lines;
    lines << field(QStringLiteral("Форма"), noColon(f.value(0).toString())) + kHash +
                 field(QStringLiteral("Содержание формы"), noColon(f.value(1).toString())) + kHash +
                 yesNo(f.value(2).toBool());
    QSqlQuery t = db::exec(d,
                           QStringLiteral("select ident, tablen, name, colcount, rowcount, fixcols, fixrows, "
                                          "floattype, scan from tables where form=? order by tablen"),
                           {formId});
    while (t.next()) {
        const qint64 ident = t.value(0).toLongLong();
        const QVariant scan = t.value(8);
        const QString tablen = field(QStringLiteral("Номер таблицы"), noColon(t.value(1).toString()));
        lines << QStringList{tablen, field(QStringLiteral("Содержание таблицы ") + tablen, noColon(t.value(2).toString())),
                             intText(t.value(3)),
                             intText(t.value(4)), intText(t.value(5)), intText(t.value(6)),
                             trueFalse(t.value(7).toBool()),
                             scan.isNull() || scan.toString().isEmpty() ? QStringLiteral("0") : intText(scan)}
                     .join(kHash);
        QSqlQuery r = db::exec(d, QStringLiteral("select \"row\", height from \"rows\" where \"table\"=?"), {ident});
        while (r.next()) lines << kRowTag + intText(r.value(0)) + kHash + sizeText(r.value(1));
        QSqlQuery c =
            db::exec(d, QStringLiteral("select \"column\", width from \"columns\" where \"table\"=?"), {ident});
        while (c.next()) lines << kColumnTag + intText(c.value(0)) + kHash + sizeText(c.value(1));
        QSqlQuery h = db::exec(d,
                               QStringLiteral("select \"column\", \"row\", union_sc, union_sr, union_ec, union_er, "
                                              "fontname, fontsize, fontbold, fontitalic, tchars, txt "
                                              "from titles where \"table\"=?"),
                               {ident});
        while (h.next()) {
            QString txt = noColon(h.value(11).toString());
            if (txt.isEmpty()) txt = QStringLiteral(" ");
            const QString where = QStringLiteral(" заголовка (графа %1, строка %2) таблицы %3")
                                      .arg(intText(h.value(0)), intText(h.value(1)), tablen);
            lines << kTitleTag + QStringList{intText(h.value(0)), intText(h.value(1)), intText(h.value(2)),
                                             intText(h.value(3)), intText(h.value(4)), intText(h.value(5)),
                                             field(QStringLiteral("Шрифт") + where, noColon(h.value(6).toString())),
                                             intText(h.value(7)), trueFalse(h.value(8).toBool()),
                                             trueFalse(h.value(9).toBool()),
                                             field(QStringLiteral("Выравнивание") + where, h.value(10).toString()),
                                             text::encodeLineBreaks(txt)}
                                     .join(kHash);
        }
    }
    return lines;
}

void exportForm(qint64 formId, const QString &path) {
    const QStringList lines = frsLines(formId);
    QString error;
    if (!cp1251::writeLines(path, lines, &error))
        throw Error(QStringLiteral("Не удалось записать файл ") + path + QStringLiteral(": ") + error);
}

FrsForm parseFrs(const QStringList &input, const std::function<void(const QString &)> &warn) {
    QStringList lines = input;
    // Blank lines after the last record are no part of the structure.
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) lines.removeLast();
    if (lines.isEmpty()) throw Error(QStringLiteral("Файл структуры формы пуст"));

    FrsForm form;
    const QString &head = lines[0];
    const int h1 = head.indexOf(kHash);
    // A file that begins with a table line has lost its form line: reading
    // that table line as one would make a form named after the table.
    const bool tableLine = head.startsWith(QLatin1Char('(')) && head.count(kHash) >= 7;
    if (h1 <= 0 || tableLine)
        throw Error(fileError(1, head, QStringLiteral("ожидалось описание формы: наименование#содержание#сеть")));
    if (const QString fault = frsLineFault(head, true); !fault.isEmpty()) throw Error(fileError(1, head, fault));
    const int h2 = head.indexOf(kHash, h1 + 1);
    form.formname = head.left(h1);
    form.decipher = h2 < 0 ? head.mid(h1 + 1) : head.mid(h1 + 1, h2 - h1 - 1);
    form.net = (h2 < 0 ? QString() : head.mid(h2 + 1)) != QStringLiteral("Нет");

    int i = 1;
    const int n = lines.size();
    while (i < n) {
        if (!lines[i].startsWith(QLatin1Char('('))) {
            if (warn)
                warn(QStringLiteral("Нарушена структура описания формы - ожидалось описание таблицы\nСтрока %1: %2")
                         .arg(i + 1)
                         .arg(lines[i]));
            while (i < n && !lines[i].startsWith(QLatin1Char('('))) ++i;
            if (i >= n) break;
        }
        FrsTable t = readTable(lines[i], i + 1);
        ++i;
        while (i < n && lines[i].startsWith(kRowTag)) {
            t.rows.append(readRowCol(lines[i], i + 1, kRowTag, QStringLiteral("row")));
            ++i;
        }
        while (i < n && lines[i].startsWith(kColumnTag)) {
            t.columns.append(readRowCol(lines[i], i + 1, kColumnTag, QStringLiteral("column")));
            ++i;
        }
        while (i < n && lines[i].startsWith(kTitleTag)) {
            t.titles.append(readTitle(lines[i], i + 1));
            ++i;
        }
        form.tables.append(t);
    }
    return form;
}

FrsForm readFrsFile(const QString &path, const std::function<void(const QString &)> &warn) {
    QStringList lines;
    QString error;
    if (!cp1251::readLines(path, lines, &error))
        throw Error(QStringLiteral("Не удалось прочитать файл ") + path + QStringLiteral(": ") + error);
    return parseFrs(lines, warn);
}

ImportResult importFrs(const FrsForm &form) {
    ImportResult result;
    ImportRunner run{mainDb(), 1};
    db::transaction(run.d, [&] {
        QList<QPair<QString, qint64>> stored;
        QSqlQuery f = run.run(QStringLiteral("select id from forms where upper(formname)=upper(?) order by id"),
                              {form.formname});
        if (f.next()) {
            result.formId = f.value(0).toLongLong();
            QSqlQuery t = run.run(QStringLiteral("select ident, tablen from tables where form=?"), {result.formId});
            while (t.next()) stored.append({t.value(1).toString(), t.value(0).toLongLong()});
            run.run(QStringLiteral("update forms set formname=?, decipher=?, net=? where id=?"),
                    {form.formname, form.decipher, form.net, result.formId});
        } else {
            run.run(QStringLiteral("insert into forms (formname, decipher, ind, net) values (?,?,999,?)"),
                    {form.formname, form.decipher, form.net});
            result.formId = db::lastInsertId(run.d);
            result.newForm = true;
        }

        QSet<QString> imported;
        for (const FrsTable &t : form.tables) {
            run.line = t.line;
            qint64 ident = 0;
            QSqlQuery q = run.run(QStringLiteral("select ident from tables where form=? and tablen=?"),
                                  {result.formId, t.tablen});
            if (q.next()) {
                ident = q.value(0).toLongLong();
                run.run(QStringLiteral("update tables set name=?, colcount=?, rowcount=?, fixcols=?, fixrows=?, "
                                       "floattype=?, scan=? where ident=?"),
                        {t.name, t.colcount, t.rowcount, t.fixcols, t.fixrows, t.floattype, t.scan, ident});
                run.run(QStringLiteral("delete from \"columns\" where \"table\"=?"), {ident});
                run.run(QStringLiteral("delete from \"rows\" where \"table\"=?"), {ident});
                run.run(QStringLiteral("delete from titles where \"table\"=?"), {ident});
            } else {
                run.run(QStringLiteral("insert into tables (form,tablen,name,colcount,rowcount,fixcols,fixrows,"
                                       "floattype,scan) values (?,?,?,?,?,?,?,?,?)"),
                        {result.formId, t.tablen, t.name, t.colcount, t.rowcount, t.fixcols, t.fixrows, t.floattype,
                         t.scan});
                ident = db::lastInsertId(run.d);
            }
            imported.insert(t.tablen);
            for (const FrsRowCol &r : t.rows) {
                run.line = r.line;
                run.run(QStringLiteral("insert into \"rows\" (\"table\", \"row\", height) values (?,?,?)"),
                        {ident, r.number, r.size});
            }
            for (const FrsRowCol &c : t.columns) {
                run.line = c.line;
                run.run(QStringLiteral("insert into \"columns\" (\"table\", \"column\", width) values (?,?,?)"),
                        {ident, c.number, c.size});
            }
            for (const FrsTitle &h : t.titles) {
                run.line = h.line;
                run.run(QStringLiteral("insert into titles (\"table\", \"column\", \"row\", union_sc, union_sr, "
                                       "union_ec, union_er, fontname, fontsize, fontbold, fontitalic, tchars, txt) "
                                       "values (?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                        {ident, h.column, h.row, h.sc, h.sr, h.ec, h.er, h.fontname, h.fontsize, h.bold, h.italic,
                         h.tchars, h.txt});
            }
        }
        for (const auto &s : stored)
            if (!imported.contains(s.first)) result.missing.append(s);
    });
    return result;
}

QString missingTablesQuestion(const QList<QPair<QString, qint64>> &missing) {
    QString q = QStringLiteral("Следующие таблицы отсутствуют в импорте:\r\n");
    for (const auto &m : missing) q += QStringLiteral("  - ") + m.first + QStringLiteral("\r\n");
    q += QStringLiteral("\r\nУдалить эти таблицы сейчас? (Вы можете удалить их позже вруччную)");
    return q;
}

} // namespace catalog
