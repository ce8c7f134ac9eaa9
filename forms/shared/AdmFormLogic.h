#pragma once
// The territory tree's work without its window: units and their served
// population, deletion with values, moves and order, loads and unloads of
// transfer files for one institution or a group. Every text is bound, never
// pasted into SQL; throws db::Error with a Russian message.
#include "engine/ImportPolicy.h"
#include "engine/UnitTree.h"
#include "forms/shared/TransferFiles.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace adm {

struct UnitInfo {
    QString name;
    qint64 medicalType = -1;   // -1: a territory node, not an institution
    bool country = false;      // rural
};

// Served population as typed: four texts of up to eight digits.
struct Population {
    QString common, olds, teens, childs;
};

// Institution types as the type list shows them: (type, id) in id order.
QList<QPair<QString, qint64>> medTypes();

// Inserts a unit under parentId with order 9999; returns its id. A population
// typed in the unit dialog is stored for the year in the same transaction. A
// parent deleted behind the window is refused (db::Error), nothing stored.
qint64 addUnit(qint64 parentId, const UnitInfo &unit, const std::optional<Population> &population = std::nullopt,
               int year = 0);
UnitInfo readUnit(qint64 id);              // throws when there is none
qint64 medicalTypeOf(qint64 id);           // -1 when none
// Ids of the direct children, in their order.
QList<qint64> childIds(qint64 id);

std::optional<Population> readPopulation(qint64 unit, int year);
// Sums of the units' rows of the year; empty texts when none has a row.
Population sumPopulation(const QList<qint64> &units, int year);
// Empty when the four texts are whole numbers of up to eight digits;
// otherwise the message to show.
QString checkPopulation(const Population &p);
QString checkUnit(const UnitInfo &unit);

// Stores the unit (and, when given, its population of the year) in one
// transaction; checks everything first, so a bad field saves nothing, and a
// unit deleted behind the window is refused (db::Error), nothing stored.
void saveUnit(qint64 id, const UnitInfo &unit, const std::optional<Population> &population, int year);

// Removes the unit and its values of the year in the open values database,
// and takes it out of every summary report's institutions (reports.include)
// in the same transaction: a report never goes on naming a unit that is
// gone. Returns the names of the reports that changed. Its populations1 rows
// are kept.
QStringList deleteUnit(qint64 id, int year);

// Writes ind = position among siblings (from 0) for every unit of the tree
// (the top level as the window shows it); a unit deleted behind the window
// refuses the whole order.
void saveOrder(const QList<UnitNode> &topLevel);

// Stores the unit's new parent (0: the top level), as a drop in the tree
// gives it; a unit or new parent deleted behind the window throws db::Error
// and nothing is stored.
void moveUnit(qint64 unit, qint64 parent);

// Name of the current sub-report level ("Годовой" for the annual level).
QString levelName();

// Group load of institution files in one transaction: each file's unit is
// found by its name, unknown names and refused files are listed, the others
// loaded. A write that fails (transfer::WriteFailed) or Cancelled from a
// progress call takes the whole group back and is thrown on.
struct GroupLoadResult {
    int loaded = 0;
    QStringList missingUnits;     // names of files whose unit was not found
    QStringList failures;         // "file: reason" of files that were refused
    int outside = 0;              // lines naming cells outside their tables, skipped
    importpolicy::UnknownTargets unknown;   // lines of forms and tables the configuration lacks
    importpolicy::UnknownTargets otherType; // lines of forms the institutions' types do not have
    QList<transfer::Emptied> emptied;       // forms left empty, per institution
};
using FileProgress = std::function<void(int index, const QString &unitName)>;
// The forms each institution's file empties, by the institution's id.
using EmptiedOfUnit = QHash<qint64, QStringList>;
// With knownEmptied, what formsEmptiedByUnitFiles found for the same files
// just before, the load does not look for the emptied forms again.
GroupLoadResult loadUnitFiles(const QStringList &files, const QString &groupLoadForms, bool clearChosenOnly,
                              const FileProgress &progress = {},
                              const std::function<void(int, int)> &lineProgress = {},
                              const EmptiedOfUnit *knownEmptied = nullptr);
// The forms the group load of these files would empty, per institution
// (files of no institution, and files the load refuses, left out), also by
// institution into ofUnit when given. Each file is read whole: progress gets
// each one before it is read.
QList<transfer::Emptied> formsEmptiedByUnitFiles(const QStringList &files, const QString &groupLoadForms,
                                                 bool clearChosenOnly, const FileProgress &progress = {},
                                                 EmptiedOfUnit *ofUnit = nullptr);
// The same for one table of the forms tree.
GroupLoadResult loadTableFiles(const QStringList &files, qint64 tableIdent, const FileProgress &progress = {});

// Forms of the open year (shared().Caches.forms) ticked by the group-load
// choice: a form is ticked when its name is in groupLoadForms.
QList<bool> formChoiceTicks(const QString &groupLoadForms);
// The group-load forms after the choice: the ticked names joined by ",", or empty
// when "Выбрать все" is ticked.
QString formChoiceResult(const QList<bool> &ticks, bool all);

} // namespace adm
