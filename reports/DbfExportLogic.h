#pragma once
// Export of the values of one summary report or one institution into a DBF
// table in the ministry layout: one DBF record per external row, keyed by
// year, territory and the external form, table and row codes, with up to 50
// values. The code-mapping database (engine/LinksDb.h) translates the external
// numbering into the program's.
#include "reports/DbfFile.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>

namespace dbfexport {

constexpr int kValueSlots = 50;
// Program table exported as one single record of its own.
inline const QString kSpecialTable = QStringLiteral("Ф30(3.2108)");

// --- Text helpers (positions count from 1) ---
// Index of the last entry equal to text (upper-cased comparison); -1 when none.
int IndexOfText(const QStringList &list, const QString &text);
// Substring clipped to the text; empty when start lies past the end or count <= 0.
QString SafeCopy(const QString &text, int start, int count);
// SafeCopy, then pad appended up to count characters, then cut to count.
QString PadField(const QString &text, int start, int count, const QString &pad);
// Two-character year code from the year text: "2024" -> "24", "7" -> "00".
QString YearCode(const QString &yearText);
// Four-character territory code from a territory list item ("a1 - a2"):
// characters 3-6 of the code a1, "0000" when the code is shorter than 6.
QString TerritoryCode(const QString &item);
// File name without the characters a DBF table name cannot hold; the
// extension is kept; an empty name becomes "Table".
QString SanitizeDbfTableName(const QString &fileName);
// The save dialog's name with ".dbf" appended unless it ends exactly in ".dbf".
QString WithDbfExtension(const QString &fileName);
// Section code of a section list item: its first 5 characters when r3 is set,
// else its first 4 characters followed by "0".
QString SectionCode(const QString &item, bool r3);

// Layout of the export table: a1 CHAR(2), a2 CHAR(4), a4 CHAR(5), a5 CHAR(4),
// a6 CHAR(3), a81 .. a850 NUMERIC(15,2).
QList<dbf::Field> ExportFields();

// --- Lists of the window ---
struct Section {
    QString item;     // a1 padded with "0" to 5 characters + " - " + a2
    bool r3 = false;
    bool checked = true;
};
struct Choice {
    QString text;
    qint64 id = 0;
};
QList<Section> ReadSections(const QSqlDatabase &links);        // raz ordered by a1
QStringList ReadTerritories(const QSqlDatabase &links);        // kodif in stored order
QList<Choice> ReadReports(const QSqlDatabase &mainDb);         // summary reports by ind
QList<Choice> ReadInstitutions(const QSqlDatabase &mainDb);    // units without subordinates

// Catalogue of the program's tables: key form name + table number ("Ф30(1000)").
struct Catalogue {
    QStringList keys;
    QList<qint64> idents;
    QList<int> fixrows;
};
Catalogue ReadCatalogue(const QSqlDatabase &mainDb);

// --- The run ---
struct Request {
    QSqlDatabase links;           // Links.mdb
    QSqlDatabase mainDb;          // orvmain.mdb of the year
    QSqlDatabase dataDb;          // values database
    bool summaryReports = true;   // "Своды" (repdata); false: "ЛПУ" (data)
    qint64 id = 0;                // chosen report or institution; 0 = none chosen
    QString yearText;             // the main window's year text
    QString territoryItem;        // chosen territory item; empty = none chosen
    QList<Section> sections;      // the whole section list; only ticked ones are exported
    QString folder;               // target folder (ends with '/')
    QString tableName;            // file name of the table inside the folder
    // Progress: position (1-based) of the section being exported, and the count.
    std::function<void(int position, int maximum)> progress;
};

struct Result {
    QString file;         // the table written
    int records = 0;      // records written
    // Values too big for their field, left blank in their record: the
    // record's key fields, its section, the field and the value.
    QStringList misfits;
};

// Writes the table. Ends with dbf::Error carrying the user's message when a
// choice is missing, the folder cannot be used, the table cannot be created or
// written, or the year is unreadable; nothing is left in the folder then (an
// older table of the same name stays as it was).
Result Run(const Request &request);

// The closing message of a run: success, or the export incomplete with the
// values that did not fit.
QString ResultMessage(const Result &result);

} // namespace dbfexport
