#pragma once
// The form structure file (".frs"): a form's whole structure in one text
// file. The catalogue exports and imports it, the update packages ship it
// and the installer backs a form up with it; all of them write it and read
// it here.
//
// Code page 1251, CR LF, fields joined by "#":
//   formname#decipher#Да|Нет
//   then per table (by tablen):  (tablen)#name#colcount#rowcount#fixcols#fixrows#True|False#scan
//                                стр<row>#height            (one per rows record)
//                                гр<column>#width           (one per columns record)
//                                заг<column>#<row>#sc#sr#ec#er#fontname#fontsize#bold#italic#tchars#txt
// A colon in decipher, name and txt is written as byte 3 (the form in which
// titles keep a colon) and read back as a colon in decipher and name; txt
// keeps byte 3, and a plain colon in a txt also reads as byte 3. formname,
// tablen and fontname hold no colon. In txt LF is byte 1, CR byte 2, an
// empty txt is one blank.
#include "engine/TableShape.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>

namespace frs {

// A name is a key used in references and file names (form name, table
// number, font name) and holds no ":"; a text (description, table name,
// title text, alignment code) may hold one.
enum class FieldKind { Name, Text };

// Fields are joined by "#" with no escaping, so a field followed by others
// on its line must hold no "#", and no field may hold a line break: such a
// field would read back as another text. The reason in Russian, naming the
// field by what (e.g. "Содержание формы"), or empty when value reads back as
// written (and, for a name, holds no ":").
QString fieldFault(const QString &what, const QString &value, FieldKind kind = FieldKind::Name,
                   bool lastOnLine = false);
// Why a line of a structure file would not read back as the fields it was
// written from: it has more "#" than its kind has fields, so a "#" sits
// inside a field that is not the last; or a name field of it (form name,
// table number, font name) holds a ":". formLine is true for the first line
// of the file. Empty when the line reads back (or is no line of a known kind).
QString lineFault(const QString &line, bool formLine);

// The lines of the form's structure file, read through the connection; empty
// when there is no such form. Throws EngineError, naming the field, when a
// text of the form would not read back as stored (see fieldFault), and
// db::Error on database errors.
QStringList formLines(const QSqlDatabase &db, qint64 formId);
// Writes the lines of a structure file; throws EngineError when the file
// cannot be written completely.
void writeFile(const QString &path, const QStringList &lines);

struct Title {
    int column = 0, row = 0, sc = 0, sr = 0, ec = 0, er = 0;
    QString fontname;
    int fontsize = 0;
    bool bold = false, italic = false;
    QString tchars;
    QString txt;   // decoded: colon as byte 3, line breaks restored
    int line = 0;
};
struct RowCol {
    int number = 0;
    double size = 0;
    int line = 0;
};
struct Table {
    QString tablen, name;
    int colcount = 0, rowcount = 0, fixcols = 0, fixrows = 0;
    bool floattype = false;
    int scan = 0;
    int line = 0;
    QList<RowCol> rows, columns;
    QList<Title> titles;
};
struct Form {
    QString formname, decipher;
    bool net = true;   // anything but "Нет"
    QList<Table> tables;
};

// Reads the whole file before anything is written. A line where a table line
// is expected but missing is told through warn (with its line number) and
// skipped up to the next line that begins with "("; any other fault of the
// file throws EngineError naming the line, so nothing is imported from such
// a file: a first line that is no form line, a form name or table number the
// catalogue gate refuses (engine/CatalogGate), a table number the file
// already holds (letter case ignored), a field that is not a number, too few
// fields, a shape or a row, column or title line the shape check refuses
// (engine/TableShape, shapecheck). A blank number field reads as 0; a title
// whose span, font and layout are blank is its own cell in the font and
// layout of a new title.
Form parse(const QStringList &lines, const std::function<void(const QString &)> &warn = {});
// The lines of a structure file, read through the encoding check of every
// text file from outside; throws EngineError for a file that cannot be read
// or is in another encoding than code page 1251.
QStringList readLines(const QString &path);
Form readFile(const QString &path, const std::function<void(const QString &)> &warn = {});

// The shape of a table read from a file, as the catalogue keeps it.
TableShape shapeOf(const Table &t);

} // namespace frs
