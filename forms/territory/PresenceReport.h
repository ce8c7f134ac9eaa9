#pragma once
// Which tables of which forms hold values, and how full each table is, per
// institution: from the values database ("По базе") or from transfer files
// before they are loaded ("По входным файлам"). The lines, for the list window:
// the institution's name, then per form "<form>\t(1000) - 40%, (2000) - 100%"
// (lines of at most 150 characters, a long form continuing on the next line).
#include "engine/StringList.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace presence {

// Cells with values per table ident.
using TableCounts = QHash<qint64, int>;

// 100 * counter / data cells of the table, halves to the even integer.
int fillPercent(int counter, int colCount, int rowCount, int fixCols, int fixRows);
// The form lines of the counts, forms and tables in the order of the caches
// of the open year.
QStringList formLines(const TableCounts &counts);

// A node of the territory tree in depth-first order.
struct UnitNode {
    QString text;
    qint64 id = 0;
    bool leaf = false;
};

using LabelFn = std::function<void(const QString &)>;

// The lines from the values database ("data", the open year) for the nodes
// of a subtree.
StringList reportByDatabase(const QList<UnitNode> &nodes, const LabelFn &label = {});

// The lines from transfer files. step(i) is called after file i (from 1).
StringList reportByFiles(const QStringList &files, const LabelFn &label = {}, const std::function<void(int)> &step = {});

// Caption and heading of the list window.
QString listCaption();                       // "Справка о наличии информации в ЛПУ"
QString listHeader();                        // "Форма\tЗаполнение таблиц"
// The main window's caption after its first " - ", " - " and date and time.
QString listHeading(const QString &mainCaption);

} // namespace presence
