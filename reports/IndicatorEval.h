#pragma once
// Evaluation of an indicator set for a work context (mode, unit, value table).
//
// Operands of a formula are numbers, data references (Ф form Т[n] СТР rows
// ГР columns), population terms ("НАСЕЛЕНИЕ" ... ending in 0 all, 1 elderly,
// 2 teenagers, 3 children) and identifier names (NAME=expression lines of
// the set). Data references read:
//  - in split mode: the value table for the context's institution, one query each;
//  - in "Terrain", "Single", "Svod": the table of the context's institution,
//    one table held at a time by the calculator;
//  - in "Types": that table summed over the context's include list;
//  - in any other mode: 0.
// Arithmetic is the engine's EvaluateExpression: only the final value is
// rounded to two decimals, x/0 gives 0.00, a text operand leaves the
// expression as text.
#include "engine/ProgressSink.h"
#include "engine/RuleEngine.h"
#include "engine/WorkContext.h"
#include "reports/IndicatorData.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class ProgressPacer;

namespace indicators {

// On only while a split computes one unit at a time.
bool &SplitMode();

// Resolves operands against an identifier list (lines "NAME=expression").
class IndicatorCalc {
public:
    IndicatorCalc(const WorkContext &work, QStringList *identifiers, ProgressPacer *pacer = nullptr)
        : m_work(work), m_identifiers(identifiers), m_pacer(pacer), m_table(RuleRunContext(work)) {}

    // The unit a split computes (read by data references and population terms).
    void setInstitution(qint64 id) { m_work.institution = id; }

    QString ResolveFormulaOperands(const QString &formula);
    QString ParseDataReference(const QString &operand);
    QString TakeVal(const QString &name);

    // Value fetchers: false when they cannot answer (another table is held,
    // or the table does not exist).
    bool SumLoadedCells(const QString &form, const QString &tableKey, const QList<int> &rows,
                        const QList<int> &columns, double &sum);
    bool SumLoadedCellsForUnits(const QString &form, const QString &tableKey, const QList<int> &rows,
                                const QList<int> &columns, double &sum);
    bool SumCellsForInstitution(const QString &form, const QString &tableKey, const QList<int> &rows,
                                const QList<int> &columns, double &sum);

    // Evaluates the value grid ([column][row], titles in row 0 and column 0)
    // from the formula grid, and the identifier list, in place.
    void GetDatas(QList<QStringList> &values, const QList<QStringList> &formulas);

    // Number of tables loaded during the last GetDatas (passes - 1).
    int loads() const { return m_loads; }

private:
    bool modeIs(std::initializer_list<ReportMode> modes) const;

    WorkContext m_work;
    QStringList *m_identifiers;
    ProgressPacer *m_pacer;
    RuleRun m_table;     // the table held while a pass resolves references
    int m_loads = 0;
};

// The run's matrix := the table summed over the institutions of the run's
// include list; false when the table does not exist. The pacer keeps the
// progress window painting and stops the run on "Отмена".
bool SumDataForUnits(RuleRun &run, const QString &form, const QString &tableKey, ProgressPacer *pacer = nullptr);

// The formula before its first ";" and the suffix after it.
QString FormulaPart(const QString &cellFormula);
QString FormulaSuffix(const QString &cellFormula);

// Evaluates a whole set for the current mode and unit: the set's grid with
// computed cells (titles as stored) and the identifier lines as computed.
struct EvaluatedSet {
    SetTable table;                 // formulas, as loaded
    QList<QStringList> values;      // [column][row]
    QStringList identifiers;        // pristine NAME=expression lines
    QStringList computedIdentifiers;
    WorkContext work;               // what it was evaluated for
};
// The gauge moves once per table read; "Отмена" ends the run with Cancelled.
EvaluatedSet EvaluateSet(const WorkContext &work, qint64 term, ProgressSink *progress = nullptr);

// The split of one row (all columns) or one cell by the members of the
// set's unit. Clears SplitMode, also when a member fails.
struct SplitResult {
    QStringList lines;     // unit TAB value ..., then "Всего" TAB the grid's values
    QString header;        // "Подразделение" TAB column titles
};
// unitLabel receives each member's name while it is computed (then ""). The
// gauge moves once per member; "Отмена" ends the split with Cancelled.
SplitResult SplitByUnits(const EvaluatedSet &set, int row, const QList<int> &columns,
                         const std::function<void(const QString &)> &unitLabel = {},
                         ProgressSink &progress = noProgress());
// Members split by the current mode: report ids of statistics.include of the
// context's report ("Terrain"), its include list ("Single", "Svod", "Types"), none otherwise.
QList<qint64> SplitMembers(const WorkContext &work);

} // namespace indicators
