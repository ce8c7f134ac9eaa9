#include "engine/FormStructureFile.h"

#include "engine/CatalogGate.h"
#include "engine/EngineError.h"
#include "engine/NumberFormat.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QSqlQuery>

namespace frs {

namespace {

const QString kHash = QStringLiteral("#");
const QString kRowTag = QStringLiteral("стр");
const QString kColumnTag = QStringLiteral("гр");
const QString kTitleTag = QStringLiteral("заг");

QString trueFalse(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }
QString yesNo(bool b) { return b ? QStringLiteral("Да") : QStringLiteral("Нет"); }

// A height or width; one stored as text with a decimal comma keeps its value.
QString sizeText(const QVariant &v) {
    QString s = num::general(num::parseOr(v.toString(), 0.0));
    s.replace(QLatin1Char(','), QLatin1Char('.'));
    return s;
}
QString intText(const QVariant &v) { return QString::number(v.toLongLong()); }

// ---- reading --------------------------------------------------------------------

QString fileError(int line, const QString &text, const QString &reason) {
    return QStringLiteral("Ошибка на строке %1\r\nСтрока: %2\r\nОшибка: %3").arg(line).arg(text, reason);
}

struct FieldReader {
    QStringList fields;
    int line;
    QString text;

    [[noreturn]] void fail(const QString &reason) const { throw EngineError(fileError(line, text, reason)); }
    void need(int count) const {
        if (fields.size() < count)
            fail(QStringLiteral("ожидалось полей: %1, найдено: %2").arg(count).arg(fields.size()));
    }
    // A blank number field is 0: that is what the writer makes of an empty
    // database field, and what files written before held in its place.
    int integer(int i, const QString &what) const {
        const QString t = fields.value(i).trimmed();
        if (t.isEmpty()) return 0;
        bool ok = false;
        const int v = t.toInt(&ok);
        if (!ok) fail(QStringLiteral("поле \"%1\" должно быть целым числом: \"%2\"").arg(what, fields.value(i)));
        return v;
    }
    double number(int i, const QString &what) const {
        double v = 0;
        if (!fields.value(i).trimmed().isEmpty() && !num::parse(fields.value(i), v))
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


// A line that would store a row, column or title the table window cannot
// draw (outside the table, a span beyond it, an absurd size or font, a
// layout code it does not know) refuses the whole file.
void checkLines(const Table &t, const QStringList &lines) {
    const TableShape s = shapeOf(t);
    auto fail = [&](int line, const QString &reason) {
        throw EngineError(fileError(line, lines.value(line - 1), reason));
    };
    for (const RowCol &r : t.rows)
        if (const QString f = shapecheck::rowFault(s, r.number, r.size); !f.isEmpty()) fail(r.line, f);
    for (const RowCol &c : t.columns)
        if (const QString f = shapecheck::columnFault(s, c.number, c.size); !f.isEmpty()) fail(c.line, f);
    for (const Title &h : t.titles) {
        const shapecheck::TitleCell cell{h.column, h.row, h.sc, h.sr, h.ec, h.er, h.fontname, h.fontsize, h.tchars};
        if (const QString f = shapecheck::titleFault(s, cell); !f.isEmpty()) fail(h.line, f);
    }
}

RowCol readRowCol(const QString &text, int line, const QString &tag, const QString &what) {
    FieldReader r{text.mid(tag.size()).split(kHash), line, text};
    r.need(2);
    if (const QString fault = lineFault(text, false); !fault.isEmpty()) r.fail(fault);
    return RowCol{r.integer(0, what),
                  r.number(1, what == QLatin1String("row") ? QStringLiteral("height") : QStringLiteral("width")), line};
}

Title readTitle(const QString &text, int line) {
    const QStringList parts = text.mid(kTitleTag.size()).split(kHash);
    FieldReader r{parts, line, text};
    r.need(12);
    if (const QString fault = lineFault(text, false); !fault.isEmpty()) r.fail(fault);
    Title t;
    t.column = r.integer(0, QStringLiteral("column"));
    t.row = r.integer(1, QStringLiteral("row"));
    t.sc = r.integer(2, QStringLiteral("union_sc"));
    t.sr = r.integer(3, QStringLiteral("union_sr"));
    t.ec = r.integer(4, QStringLiteral("union_ec"));
    t.er = r.integer(5, QStringLiteral("union_er"));
    // Update packages once wrote the span, font and layout of a title
    // blank: such a title is its own cell in the font and layout of a new
    // title.
    const auto blank = [&](int i) { return parts.value(i).trimmed().isEmpty(); };
    if (blank(2) && blank(3) && blank(4) && blank(5)) {
        t.sc = t.ec = t.column;
        t.sr = t.er = t.row;
    }
    t.fontname = blank(6) ? QStringLiteral("Arial Cyr") : parts[6];
    t.fontsize = blank(7) ? 10 : r.integer(7, QStringLiteral("fontsize"));
    t.bold = r.boolean(8, QStringLiteral("fontbold"));
    t.italic = r.boolean(9, QStringLiteral("fontitalic"));
    t.tchars = blank(10) ? QStringLiteral("CC00") : parts[10];
    // The text is the last field: a "#" inside it stays part of it.
    t.txt = text::decodeLineBreaks(text::encodeColon(parts.mid(11).join(kHash)));
    t.line = line;
    return t;
}

Table readTable(const QString &text, int line) {
    FieldReader r{text.split(kHash), line, text};
    r.need(8);
    if (const QString fault = lineFault(text, false); !fault.isEmpty()) r.fail(fault);
    Table t;
    t.tablen = r.fields[0];
    t.name = text::decodeColon(r.fields[1]);
    t.colcount = r.integer(2, QStringLiteral("colcount"));
    t.rowcount = r.integer(3, QStringLiteral("rowcount"));
    t.fixcols = r.integer(4, QStringLiteral("fixcols"));
    t.fixrows = r.integer(5, QStringLiteral("fixrows"));
    t.floattype = r.boolean(6, QStringLiteral("floattype"));
    t.scan = r.integer(7, QStringLiteral("scan"));
    t.line = line;
    if (const QString fault = gate::tableNumberFormatFault(t.tablen); !fault.isEmpty()) r.fail(fault);
    if (const QString fault = shapecheck::countsFault(shapeOf(t)); !fault.isEmpty()) r.fail(fault);
    return t;
}

} // namespace

TableShape shapeOf(const Table &t) {
    TableShape s;
    s.colcount = t.colcount;
    s.rowcount = t.rowcount;
    s.fixcols = t.fixcols;
    s.fixrows = t.fixrows;
    s.floatValues = t.floattype;
    s.scan = t.scan;
    return s;
}

// ---- checks ---------------------------------------------------------------------------

QString fieldFault(const QString &what, const QString &value, FieldKind kind, bool lastOnLine) {
    if (!lastOnLine && value.contains(kHash))
        return QStringLiteral("Поле \"%1\" содержит символ \"#\", который разделяет поля файла структуры формы: "
                              "\"%2\"")
            .arg(what, value);
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        return QStringLiteral("Поле \"%1\" содержит перевод строки: \"%2\"").arg(what, value);
    if (kind == FieldKind::Name && value.contains(QLatin1Char(':')))
        return QStringLiteral("Поле \"%1\" содержит символ \":\", недопустимый в наименовании формы, номере "
                              "таблицы и имени шрифта: \"%2\"")
            .arg(what, value);
    return QString();
}

QString lineFault(const QString &line, bool formLine) {
    int fields = 0;   // the most a line of its kind has; 0: no limit
    if (formLine) fields = 3;
    else if (line.startsWith(QLatin1Char('('))) fields = 8;
    else if (line.startsWith(kRowTag) || line.startsWith(kColumnTag)) fields = 2;
    const int found = int(line.count(kHash)) + 1;
    if (fields != 0 && found > fields)
        return QStringLiteral("полей %1 вместо %2: символ \"#\" внутри поля, прочитать строку однозначно нельзя")
            .arg(found)
            .arg(fields);
    // The names of a file written here hold no ":"; one written elsewhere
    // must not bring one in past the editors' check.
    QString what;
    QString name;
    if (formLine || line.startsWith(QLatin1Char('('))) {
        what = formLine ? QStringLiteral("Форма") : QStringLiteral("Номер таблицы");
        name = line.section(kHash, 0, 0);
    } else if (line.startsWith(kTitleTag)) {
        what = QStringLiteral("Шрифт");
        name = line.section(kHash, 6, 6);
    }
    if (!name.contains(QLatin1Char(':'))) return QString();
    return QStringLiteral("поле \"%1\" содержит символ \":\": \"%2\"").arg(what, name);
}

// ---- writing -----------------------------------------------------------------------------

QStringList formLines(const QSqlDatabase &d, qint64 formId) {
    QSqlQuery f = db::exec(d, QStringLiteral("select formname, decipher, net from forms where id=?"), {formId});
    if (!f.next()) return {};
    // A text that would read back as another one stops the export: the file
    // would change the form (or another one) on import.
    auto field = [](const QString &what, const QString &value, FieldKind kind = FieldKind::Name) {
        const QString fault = fieldFault(what, value, kind);
        if (!fault.isEmpty())
            throw EngineError(QStringLiteral("Файл структуры формы не записан.\r\n") + fault +
                              QStringLiteral("\r\nИсправьте текст и повторите экспорт."));
        return value;
    };
    QStringList lines;
    // A text keeps its ":" as byte 3, the form in which titles keep it.
    auto textField = [&](const QString &what, const QString &value) {
        return text::encodeColon(field(what, value, FieldKind::Text));
    };
    lines << field(QStringLiteral("Форма"), f.value(0).toString()) + kHash +
                 textField(QStringLiteral("Содержание формы"), f.value(1).toString()) + kHash +
                 yesNo(db::storedYes(f.value(2)));
    QSqlQuery t = db::exec(d,
                           QStringLiteral("select ident, tablen, name, colcount, rowcount, fixcols, fixrows, "
                                          "floattype, scan from tables where form=? order by tablen"),
                           {formId});
    while (t.next()) {
        const qint64 ident = t.value(0).toLongLong();
        const QString tablen = field(QStringLiteral("Номер таблицы"), t.value(1).toString());
        lines << QStringList{tablen,
                             textField(QStringLiteral("Содержание таблицы ") + tablen, t.value(2).toString()),
                             intText(t.value(3)), intText(t.value(4)), intText(t.value(5)), intText(t.value(6)),
                             trueFalse(db::storedYes(t.value(7))), intText(t.value(8))}
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
            QString txt = text::encodeColon(h.value(11).toString());
            if (txt.isEmpty()) txt = QStringLiteral(" ");
            const QString where = QStringLiteral(" заголовка (графа %1, строка %2) таблицы %3")
                                      .arg(intText(h.value(0)), intText(h.value(1)), tablen);
            lines << kTitleTag + QStringList{intText(h.value(0)), intText(h.value(1)), intText(h.value(2)),
                                             intText(h.value(3)), intText(h.value(4)), intText(h.value(5)),
                                             field(QStringLiteral("Шрифт") + where, h.value(6).toString()),
                                             intText(h.value(7)), trueFalse(db::storedYes(h.value(8))),
                                             trueFalse(db::storedYes(h.value(9))),
                                             field(QStringLiteral("Выравнивание") + where, h.value(10).toString(),
                                                   FieldKind::Text),
                                             text::encodeLineBreaks(txt)}
                                     .join(kHash);
        }
    }
    return lines;
}

void writeFile(const QString &path, const QStringList &lines) {
    QString error;
    if (!cp1251::writeLines(path, lines, &error))
        throw EngineError(QStringLiteral("Не удалось записать файл ") + path + QStringLiteral(": ") + error);
}

// ---- reading ----------------------------------------------------------------------------

Form parse(const QStringList &input, const std::function<void(const QString &)> &warn) {
    QStringList lines = input;
    // Blank lines after the last record are no part of the structure.
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) lines.removeLast();
    if (lines.isEmpty()) throw EngineError(QStringLiteral("Файл структуры формы пуст"));

    Form form;
    const QString &head = lines[0];
    const int h1 = head.indexOf(kHash);
    // A file must begin with its form line: one that begins with a table,
    // row, column or title line has lost it, and reading that line as one
    // would make a form named after it.
    auto tagged = [&](const QString &tag) {
        return head.startsWith(tag) && head.size() > tag.size() && head[tag.size()].isDigit();
    };
    // (A form line has three fields, a table line eight: a form whose name
    // begins with "(" still has its form line read.)
    const bool tableLine = head.startsWith(QLatin1Char('(')) && head.count(kHash) >= 7;
    const bool otherLine = tableLine || tagged(kRowTag) || tagged(kColumnTag) || tagged(kTitleTag) ||
                           head.count(kHash) < 2;
    if (h1 <= 0 || otherLine)
        throw EngineError(fileError(1, head, QStringLiteral("ожидалось описание формы: наименование#содержание#сеть")));
    if (const QString fault = lineFault(head, true); !fault.isEmpty()) throw EngineError(fileError(1, head, fault));
    if (const QString fault = gate::formNameFormatFault(head.left(h1)); !fault.isEmpty())
        throw EngineError(fileError(1, head, fault));
    const int h2 = head.indexOf(kHash, h1 + 1);
    form.formname = head.left(h1);
    form.decipher = text::decodeColon(h2 < 0 ? head.mid(h1 + 1) : head.mid(h1 + 1, h2 - h1 - 1));
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
        Table t = readTable(lines[i], i + 1);
        // Lookups by form and number ignore letter case: a second table of
        // one number would be shadowed by the first.
        for (const Table &other : form.tables)
            if (text::sameName(other.tablen, t.tablen))
                throw EngineError(fileError(i + 1, lines[i],
                                            QStringLiteral("таблица %1 уже описана в строке %2: номера таблиц формы не "
                                                           "должны повторяться")
                                                .arg(t.tablen)
                                                .arg(other.line)));
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
        checkLines(t, lines);
        form.tables.append(t);
    }
    return form;
}

QStringList readLines(const QString &path) {
    QStringList lines;
    QString error;
    if (!cp1251::readLines(path, lines, &error))
        throw EngineError(QStringLiteral("Не удалось прочитать файл ") + path + QStringLiteral(": ") + error);
    return lines;
}

Form readFile(const QString &path, const std::function<void(const QString &)> &warn) {
    return parse(readLines(path), warn);
}

} // namespace frs
