#pragma once
// Import of the external control book: one rule per text line (code page
// 1251), references of four comma-separated parts (form code, table, rows,
// columns) in the book's own numbering, translated into our notation through
// the code-mapping database Links.mdb.
//
// TControlMatchImporter does the line-level work. The matching window owns
// one for its lifetime. Its methods are spread over several files:
//   ZenkorImporter.cpp   - object, control-book line
//   ZenkorConvert.cpp    - reference and expression conversion, renumbering,
//                          list compaction (pure text + read-only Links.mdb;
//                          ZenkorLinks.h: Links.mdb read once per import run)
//   ZenkorTable.cpp      - stored-rule table and the import run: a line is
//                          stored only when ZenkorProof.h shows that its
//                          rules mean what the book line means, and only
//                          when they pass the rule checker
//   ZenkorProof.cpp      - the book line read on its own, and the proof
//   ZenkorDescribe.cpp   - descriptions of imported rules
//   ZenkorNormalize.cpp  - normalisation of rule texts for matching
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>

class ProgressSink;

// Ordered list of name=value pairs. Names are matched without regard to
// letter case (Cyrillic included); setting an existing name replaces its value
// in place. Look-ups go through a hash of the folded names.
class NameValueList {
public:
    int count() const { return int(m_items.size()); }
    bool isEmpty() const { return m_items.isEmpty(); }
    void clear() {
        m_items.clear();
        m_index.clear();
    }
    int indexOfName(const QString &name) const;
    bool contains(const QString &name) const { return indexOfName(name) >= 0; }
    // Value of the name; empty when the name is absent.
    QString value(const QString &name) const;
    void setValue(const QString &name, const QString &value);
    void remove(const QString &name);
    const QString &nameAt(int i) const { return m_items[i].first; }
    const QString &valueAt(int i) const { return m_items[i].second; }

private:
    QList<QPair<QString, QString>> m_items;
    QHash<QString, int> m_index;   // folded name -> position in m_items
};

namespace zenkor {
class LinksIndex;
struct BookResolver;
}

// A line of the book the last import did not store, or stored but wants
// checked: its line number in the file, the reason, the line.
struct ZenkorListedLine {
    int line = 0;
    QString reason;
    QString text;
};

// One external reference split into its parts.
struct TZenkorFormula {
    QString FormCode;    // external form code as written
    QString Table;       // external table code
    QString Rows;        // row number list
    QString Cols;        // column number list (may hold further commas)
    QString SourceText;  // the reference text as given
};

// Fields of one control-book line.
struct ZenkorControlLine {
    QString bookNumber;       // positions 1-2
    QString conditionNumber;  // positions 3-8
    QString errorType;        // positions 9-10
    QString formCode;         // always empty: the import fills it from the first reference
    QString tableNumber;      // always empty, as formCode
    QString left;             // left side, trimmed
    QString right;            // right side, trimmed
    QString relation;         // ">=", "<=", "<>", ">", "<" or "="
    QString lineId;           // first 12 characters, right-padded with "0"
};

// One stored rule produced by the import (left side, right side, cycle).
struct TControlData {
    QString lft;
    QString rght;
    QString cycl;
};

// Row and column numbers of one project table (for the descriptions).
struct ZenkorNumbering {
    bool loaded = false;
    NameValueList rows;
    NameValueList columns;
};

class TControlMatchImporter {
public:
    // query: connection name of the main database (normally "dbmain");
    // formCodeMap: the window's map external form code = project form name
    // (not owned; may be null); linksPath: full path of Links.mdb, empty
    // meaning Links.mdb in the program folder.
    TControlMatchImporter(const QString &query, const NameValueList *formCodeMap, bool debugTrace,
                          const QString &linksPath);
    virtual ~TControlMatchImporter();
    TControlMatchImporter(const TControlMatchImporter &) = delete;
    TControlMatchImporter &operator=(const TControlMatchImporter &) = delete;

    // ---- fields -----------------------------------------------------------
    QString Query;                        // main-database connection name; empty: no database work
    const NameValueList *FormCodeMap;     // the window's; not owned
    bool DebugTrace;
    NameValueList RowNumberCache;         // "<ident>_<name>" = number (descriptions)
    NameValueList ColumnNumberCache;      // same for columns
    QStringList LoadedNumberingTables;    // idents whose numbering was loaded
    NameValueList TableGeometryCache;     // ident = "fixcols,fixrows,colcount,rowcount"
    NameValueList LinksFormMap;           // Links.mdb forms: nf = mf
    NameValueList LinksTableMap;          // Links.mdb tables: msk = orv
    bool MapsLoaded = false;              // set once LoadLinksMaps ran, found or not
    QString LinksPath;

    // Links.mdb to read: LinksPath, or the program folder's Links.mdb.
    QString linksFile() const;

    // ---- control-book line ------------------------------------------------
    // Splits one line; true when a relation was found. Every output is
    // cleared first; never throws.
    bool ParseControlLine(const QString &line, ZenkorControlLine &out) const;

    // ---- reference conversion through Links.mdb ---------------------------
    // Fills LinksFormMap and LinksTableMap once. A missing file leaves both
    // empty. Throws db::Error on a database failure.
    void LoadLinksMaps();
    // Project form id of an external form code through FormCodeMap: 0 when
    // unknown, -1 when the mapped form is not in the main database.
    qint64 FormCodeToFormId(const QString &formCode, QString &formName) const;
    // Project table name with its parentheses ("(1000)"); empty for an empty
    // table code; "(" + code + ")" when Links.mdb does not map it.
    QString MapTableName(const QString &tableCode, const QString &formCode);
    // One reference in our notation, e.g. Ф030Т[1000]СТР[10..14]ГР[3].
    // result is overwritten.
    void ConvertZenkorReference(const TZenkorFormula &formula, const QString &formName,
                                const QString &tableOverride, qint64 formId, QString &result);
    // Row or column number list as bracketed list text ("СТР[1,2]").
    // bareTable: the program's table number (renumbering only when known);
    // tableCode: the book's table code the numbers are looked up by.
    QString ConvertNumberSpec(const QString &numbers, bool isRows, const QString &formCode, qint64 formId,
                              const QString &bareTable, const QString &prefix, const QString &tableCode);

    // ---- row and column renumbering ---------------------------------------
    // tableCode: the book's table code of the reference (Links.mdb rows and
    // cols are keyed by form code + this code, as the DBF export reads them).
    QString ConvertZenkorRowNumbers(const QString &numbers, const QString &formCode, qint64 formId,
                                    const QString &tableCode);
    QString ConvertZenkorColNumbers(const QString &numbers, const QString &formCode, qint64 formId,
                                    const QString &tableCode);
    // Canonical list: ascending distinct numbers, runs as a..b ("5,1..3,2" ->
    // "1..3,5"); the input unchanged when it holds no valid number.
    static QString ExpandRangeList(const QString &list);

    // ---- expression conversion and classification -------------------------
    // Items of one side in order: references (four comma-separated parts; a
    // "-" or "/" of a row or column part stays inside), constants (numbers,
    // apostrophe-quoted texts), operators (+ - * / and the product sign X or
    // x) and brackets.
    static QStringList SplitSideIntoReferences(const QString &side);
    // Cuts a reference at its first three commas; false with fewer than three.
    static bool SplitReference(const QString &reference, TZenkorFormula &out);
    // 0: one form and one table; 1: one form, several tables; 2: otherwise.
    static int ClassifyControlType(const QList<TZenkorFormula> &references);
    QStringList ConvertAllReferences(const QList<TZenkorFormula> &references, qint64 formId,
                                     const QString &formName, const QString &tableOverride);
    // Row or column list common to every item becomes the cycle ("ГР[1..3]",
    // kind "ГР" or "СТР") and leaves the references; false when none.
    static bool ExtractCommonCycle(const QStringList &references, QString &cycleText, QString &cycleKind,
                                   QStringList &rewritten);
    static QString StripFormTablePrefixes(const QString &side, int controlType);
    static QString DropRepeatedColumnRef(const QString &side);
    static QString TableBracketsToParens(const QString &side);
    static QString UnbracketSingleNumbers(const QString &side);

    // ---- list compaction --------------------------------------------------
    // "П" -> "..", "+" -> "," inside groups; a sum of references differing
    // only in one column number becomes one reference with a column list.
    static QString CompactRowColLists(const QString &side);

    // ---- import run, stored rules, descriptions, normalisation ------------
    // (defined with the matching window's files)
    void EnsureControlsTable();
    // Throws db::Error (nothing changed) when Links.mdb or the main database
    // cannot be read or written; Cancelled when the progress is cancelled.
    int ImportControls(const QString &fileName, ProgressSink *progress);
    // What the last import run left to say: a summary line, and the lines
    // not stored or to check (ListedLines: "reason TAB line number TAB line",
    // grouped by reason).
    QString LastSummary;
    QList<ZenkorListedLine> LastListed;
    QStringList ListedLines() const;
    QList<TControlData> SplitCycle(const QString &left, const QString &right, const QString &cycle);
    int UpdateControlDescriptions(ProgressSink *progress);
    QString BuildControlDescription(qint64 formId, const QString &tableName, const QString &lft,
                                    const QString &rght, const QString &reltion, const QString &cycl);
    bool FindProjectTable(const QString &lft, const QString &rght, qint64 &formId, QString &tableName);
    ZenkorNumbering LoadRowColNumbering(qint64 tableIdent);
    QString NormalizeFormulaForMatch(const QString &side, int mode, const QString &defaultForm,
                                     const QString &defaultTable, const QString &cycle);

    // Normalised external form code: trimmed; when not 5 long, "00" appended,
    // "0" put in front until 5 long, cut to 5.
    static QString NormalizeFormCode(const QString &code);

private:
    // The second pass of an import over the non-blank lines (total of them);
    // returns the number of lines stored.
    struct PendingRule {
        QVariantList values;   // the zenkor_controls columns in insert order
    };
    int importLines(const QStringList &lines, int total, ProgressSink *progress, QList<PendingRule> &pending);
    zenkor::BookResolver bookResolver();
    bool passesRuleChecker(int controlType, qint64 formId, const QString &formName, const QString &table,
                           const QString &relation, const TControlData &rule, QString &why) const;
    QString convertNumbers(const QString &numbers, const QString &formCode, qint64 formId, const QString &tableCode,
                           bool rows, bool ordered = false);

    // During an import run: Links.mdb read once (open connection, rows and
    // columns indexed per table on first use) and the form ids of the book's
    // codes. Outside a run each conversion reads Links.mdb itself.
    std::unique_ptr<zenkor::LinksIndex> m_links;
    mutable QHash<QString, QPair<qint64, QString>> m_formIds;
    NameValueList m_runForms;   // Links.mdb forms (mf = nf) read at the start of a run
    bool m_inRun = false;
    friend struct ImportRunScope;
};

