#pragma once
// Decipher of formula references: the reference under the caret of an edit
// is explained in words (form, table, every row and column with the texts of
// its header cells) in a rich-text view beside it, and compared with the same
// reference in the previous reporting year's main database. When the two
// differ, both are shown side by side.
//
// The text work (finding references, normalising a decipher) needs no
// database; the decipher itself reads the open main database (db::kMain) and
// the lookup caches of shared().
#include "engine/TableShape.h"

#include <QColor>
#include <QPointer>
#include <QRect>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTextEdit>
#include <QWidget>

// ---- Finding references ---------------------------------------------------
struct ReferenceSpan {
    int start = 0;   // position of its "Ф" (characters before it)
    int end = 0;     // position just after its last character
    QString text;    // the reference, "Т(n)" written as "Т[n]"
};
// Every reference of an expression, in order.
QList<ReferenceSpan> ScanReferences(const QString &text);

// ---- Decipher ------------------------------------------------------------
struct ParsedReference {
    qint64 formId = 0;
    qint64 tableId = 0;
    TableShape geometry;
    QStringList rows;      // stored numbering
    QStringList columns;   // stored numbering
    // A list naming more lines than the table has is shown by its ranges
    // (reference numbering, clipped to the table) instead of line by line.
    QString rowRanges, columnRanges;
};
// Throws std::exception (ConversionError with the range messages, db::Error).
ParsedReference ParseReference(const QString &reference);
// Decipher text (every line ends with CR LF) against the given database, or
// the open main database when none is given.
QString BuildDecipher(const QString &reference, const QSqlDatabase *database = nullptr);
QString GetFormCaption(qint64 formId, const QSqlDatabase &database);    // empty when none
QString GetTableCaption(qint64 tableId, const QSqlDatabase &database);  // empty when none
// The reporting year a decipher is compared with: the open year (or, when
// none is open, the settings file's year; the calendar year when unset) - 1.
int ComparisonYear();

// ---- Colours of the views -------------------------------------------------
inline const QColor kDecipherErrorColor(255, 224, 224);
inline const QColor kDecipherCurrentDiffColor(255, 240, 240);
inline const QColor kDecipherPreviousColor(240, 240, 255);

// Renders a decipher into a rich-text view: section names in bold colour,
// " -> " in bold; previousView selects the colours of the previous-year view.
void RenderDecipherInto(QTextEdit *view, const QString &decipher, bool previousView);

// Binds an edit (QLineEdit, QPlainTextEdit or QTextEdit) holding a formula to
// a rich-text view. Either may be null for compute-only use.
class TFormulaHighlighter {
public:
    TFormulaHighlighter(QWidget *edit, QTextEdit *view);
    ~TFormulaHighlighter();
    TFormulaHighlighter(const TFormulaHighlighter &) = delete;
    TFormulaHighlighter &operator=(const TFormulaHighlighter &) = delete;

    // Deciphers the reference at the caret (selection start) of the edit.
    void Update();
    void UpdateAt(int caret);

    QStringList ExtractReferences(const QString &expression) const;
    // The reference around a caret position; empty when there is none.
    static QString ReferenceAt(const QString &text, int caret);

    QString GetDecipher(const QString &reference) const;   // may throw
    // Against <folder><year>/orvmain.mdb, opened read-only for this call.
    // Never throws: failures become texts.
    QString GetPreviousYearDecipher(const QString &reference, int year, const QString &configFolder) const;
    // False (nothing done) without an open configuration. Never throws.
    bool CompareWithPreviousYear(const QString &reference, QString &current, QString &previous, bool &same) const;
    static QString NormalizeDecipher(const QString &decipher);

    // decipher is the reference's current decipher (GetDecipher).
    void ShowDecipher(const QString &reference, const QString &decipher);
    void ShowError(const QString &message);

    // Binds another edit (the field that has the caret) to the same view
    // and previous-year pane.
    void SetEdit(QWidget *edit) { m_edit = edit; }
    // Hides the view and its previous-year pane.
    void Hide() { hideView(); }

    QWidget *Edit() const { return m_edit; }
    QTextEdit *View() const { return m_view; }
    QTextEdit *PreviousYearView() const { return m_previousView; }

private:
    QTextEdit *ensurePreviousYearView();
    void showSideBySide(bool on);
    void hideView();
    QPointer<QWidget> m_edit;
    QPointer<QTextEdit> m_view;
    QPointer<QTextEdit> m_previousView;
    bool m_madeLayout = false;    // the view and its companion share a container of ours
    QRect m_viewGeometry;         // without layouts: the view's own place
};
