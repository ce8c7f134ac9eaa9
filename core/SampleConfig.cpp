// Sample configuration, made in code.
//
// Folder layout for folder F and year Y:
//   F/Y/orvmain.mdb, F/Y/data0.mdb, F/Y/data1.mdb ("1 квартал"), F/Y/forms/Ф30.txt and
//   F/Y/forms/Ф30.docx (the print template of Ф30 and its cell mapping)
//   (and F/(Y-1)/ the same when asked for, with slightly smaller values).
//
// Territory (administration: id, unit, dependence, medicaltype, country, ind):
//   1 "Область" (0), territory nodes have medicaltype -1
//     2 "Северный район":  5 "Северная ЦРБ" (Больница), 6 "Северная поликлиника" (Поликлиника),
//                          7 "ФАП Озёрный" (ФАП, rural), 8 "ФАП Лесной" (ФАП, rural)
//     3 "Южный район":     9 "Южная ЦРБ" (Больница), 10 "Южная поликлиника" (Поликлиника),
//                          11 "ФАП Степной" (ФАП, rural), 12 "Южная участковая больница" (Больница, rural)
//     4 "Центральный район": 13 "Областная больница" (Больница), 14 "Городская поликлиника №1" (Поликлиника),
//                          15 "Онкологический диспансер" (Диспансер), 16 "Противотуберкулёзный диспансер" (Диспансер)
//   populations1 for every node and the year: common = 1000*k, olds = 700*k, teens = 100*k,
//   childs = 200*k with k = id for institutions; territories hold the sums of their institutions.
//
// Institution types (medicaltypes: id, parent, type, ind):
//   1 "Стационары" (group) with 2 "Больница", 3 "Диспансер";
//   4 "Амбулатории" (group) with 5 "Поликлиника", 6 "ФАП".
// med_type_forms: Больница and Диспансер -> Ф30, Ф14; Поликлиника and ФАП -> Ф30.
//
// Forms and tables (structure numbering from 1; numbering cells: row numbers in
// column fixcols-1, column numbers in row fixrows):
//   form 1 "Ф30" (ind 1): table 1 "(1000)" "Штаты": 7 x 8, fixcols 3, fixrows 3,
//        two header rows with spans ("Число должностей:..." over columns 4-5, "Число физических лиц"
//        over 6-7), rotated titles ("№ строки", "из них женщин"), data rows СТР1..5, columns ГР4..7;
//      table 2 "(2000)" "Посещения": 5 x 5, fixcols 3, fixrows 2, rows СТР1..3, columns ГР4..5.
//   form 2 "Ф14" (ind 2): table 3 "(1000)" "Состав больных в стационаре": 6 x 6, fixcols 3,
//        fixrows 2, float values, rows СТР1..4, columns ГР4..6.
//   form 3 "Ф47" (ind 3, net): table 4 "(1000)" "Сеть медицинских организаций": 5 x 6,
//        fixcols 3, fixrows 2, rows СТР1..4, columns ГР4..5; calculated cells (grid row, column):
//        (0,0) counter of Больница; (0,1) sum Ф14Т(1000)СТР1ГР5 / 365 over Больница, Диспансер;
//        (1,0) counter of Поликлиника; (1,1) average of Ф30Т(2000)СТР1ГР4 over Поликлиника;
//        (2,0) counter of rural ФАП; (3,0) counter of Больница and Диспансер with the condition
//        Ф30Т(1000)СТР1ГР4>0 AND (Ф14Т(1000)СТР1ГР6>10 OR Ф30Т(2000)СТР1ГР4>8000), which selects 9, 13, 15.
//        With IncludeList = all institutions the cells are 4, 365-day beds, 3, 16000/3, 3, 3.
//        Row rule (3,-1) "Ф14Т(1000)СТР1" with the condition of (3,0), crossed with column rule
//        (-1,1) "*ГР5" / 365: cell (3,1) holds the beds of 9, 13, 15.
//
// Control rules (int_control, key Код):
//   1 Ф30 (1000) intra:  СТР[1] >= СТР[2]+СТР[3], cycle ГР[4..7]   fails for 9 in ГР5 only
//   2 Ф30 (1000) intra:  СТР[1]ГР[5] <= СТР[1]ГР[4]                fails for 13
//   3 Ф30 (1000) intra:  ГР[7] <= ГР[6], cycle СТР[1..5]           holds
//   4 Ф30 inter-table (tble ""):   Т[2000]СТР[1]ГР[4] >= Т[1000]СТР[1]ГР[5]   holds
//   5 Ф30 inter-table (tble null): Т[2000]СТР[1]ГР[5] <= Т[2000]СТР[1]ГР[4]   fails for 7
//   6 inter-form (formid 0): Ф14Т[1000]СТР[1]ГР[4] <= Ф30Т[2000]СТР[1]ГР[4]   holds
//   7 Ф14 (1000) intra:  СТР[1] >= СТР[2]+СТР[3]+СТР[4], cycle ГР[4..6]   holds
//
// Values (data, stored column = structure column + 1, stored row = structure row + 1,
// i.e. СТР n ГР m is stored row n + fixrows + 1, stored column m + 1), with base b = 10*id
// (10*id - 4 in the previous year):
//   Ф30 (1000) for 5, 6, 7, 9, 10, 11, 13, 15: СТР1: ГР4 = b, ГР5 = b-2, ГР6 = b-3, ГР7 = (b-3)/2;
//        СТР2 = floor(0.4*СТР1), СТР3 = floor(0.3*СТР1), СТР4 = 2*СТР1, СТР5 = СТР1; then
//        9: СТР2ГР5 := СТР1ГР5; 13: СТР1ГР5 := СТР1ГР4 + 3.
//   Ф30 (2000) for the same: СТР1: ГР4 = 100*b, ГР5 = 30*b; СТР2 = floor(0.6*СТР1), СТР3 = floor(0.4*СТР1);
//        then 7: СТР1ГР5 := СТР1ГР4 + 1.
//   Ф14 (1000) for 5, 9, 13, 15: СТР1: ГР4 = 5*b, ГР5 = 45*b + 0.5, ГР6 = b/10;
//        СТР2..4 = floor(0.2, 0.3, 0.4 * СТР1).
//   data1.mdb ("1 квартал"): Ф30 (2000) СТР1ГР4 = 25*b for 5 and 9.
//   Institutions 8, 12, 14, 16 have no values.
//
// Reports: 1 "Свод по области" (include "5,...,16," with the trailing comma, ind 0),
//   2 "Свод по Северному району" ("5,6,7,8,", ind 1), 3 "Сеть Ф47" (net, all institutions, ind 2),
//   4 "Итоговый свод" (ind 3; statistics base 4 include "1,2").
//   repdata (data0.mdb): report 1 holds the sums of Ф30 (2000) over its institutions; report 3
//   holds Ф47 (1000) as its calculated cells give it over all institutions.
//   populations: reports 1 and 2, the sums of their institutions.
//
// Indicator sets (tree): 1 "Показатели здоровья" (root), 2 "Обеспеченность кадрами" (child of 1);
//   set 2: columns 0 "Показатель", 1 "Значение"; rows 0 "Наименование", 1 "Врачей на 10000 населения",
//   2 "Укомплектованность: %"; identifier ВРАЧИ=Ф30Т[1000]СТР1ГР5 and the cell formulas
//   (1,1) ВРАЧИ*10000/НАСЕЛЕНИЕ0, (2,1) Ф30Т[1000]СТР1ГР5/Ф30Т[1000]СТР1ГР4*100;%.
#include "core/SampleConfig.h"
#include "engine/CellNumbering.h"

#include "engine/Schema.h"
#include "engine/TextUtil.h"
#include "engine/WorkModes.h"
#include "platform/office/WordDocument.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

#include <QDate>
#include <QMap>
#include <QPair>
#include <QVariantList>
#include <algorithm>
#include <cmath>

namespace sample {

namespace {

using namespace ids;

void insert(const QSqlDatabase &d, const QString &table, const QString &columns, const QVariantList &values) {
    QStringList marks;
    for (int i = 0; i < values.size(); ++i) marks << QStringLiteral("?");
    db::exec(d, QStringLiteral("insert into %1 (%2) values (%3)").arg(table, columns, marks.join(QLatin1Char(','))),
             values);
}

// ---- definitions: the rows ------------------------------------------------
// A text given as nullptr is stored as NULL.

struct Institution {
    int id;
    const char *name;
    int parent;
    int type;
    bool rural;
    int ind;
};

const Institution kUnits[] = {
    {Region, "Область", 0, -1, false, 0},
    {North, "Северный район", Region, -1, false, 0},
    {South, "Южный район", Region, -1, false, 1},
    {Central, "Центральный район", Region, -1, false, 2},
    {NorthHospital, "Северная ЦРБ", North, TypeHospital, false, 0},
    {NorthPolyclinic, "Северная поликлиника", North, TypePolyclinic, false, 1},
    {FapOzerny, "ФАП Озёрный", North, TypeFap, true, 2},
    {FapLesnoy, "ФАП Лесной", North, TypeFap, true, 3},
    {SouthHospital, "Южная ЦРБ", South, TypeHospital, false, 0},
    {SouthPolyclinic, "Южная поликлиника", South, TypePolyclinic, false, 1},
    {FapStepnoy, "ФАП Степной", South, TypeFap, true, 2},
    {SouthRuralHospital, "Южная участковая больница", South, TypeHospital, true, 3},
    {RegionalHospital, "Областная больница", Central, TypeHospital, false, 0},
    {CityPolyclinic, "Городская поликлиника №1", Central, TypePolyclinic, false, 1},
    {OncologyDispensary, "Онкологический диспансер", Central, TypeDispensary, false, 2},
    {TbDispensary, "Противотуберкулёзный диспансер", Central, TypeDispensary, false, 3},
};

bool isInstitution(const Institution &u) { return u.type > 0; }

const struct TypeRow {
    int id, parent;
    const char *name;
    int ind;
} kTypes[] = {
    {TypeInpatient, 0, "Стационары", 0},         {TypeHospital, TypeInpatient, "Больница", 0},
    {TypeDispensary, TypeInpatient, "Диспансер", 1}, {TypeOutpatient, 0, "Амбулатории", 1},
    {TypePolyclinic, TypeOutpatient, "Поликлиника", 0}, {TypeFap, TypeOutpatient, "ФАП", 1},
};

// The forms each institution type fills.
const struct TypeFormRow {
    int type, form;
} kTypeForms[] = {{TypeHospital, FormF30},   {TypeHospital, FormF14},   {TypeDispensary, FormF30},
                  {TypeDispensary, FormF14}, {TypePolyclinic, FormF30}, {TypeFap, FormF30}};

const struct FormRow {
    int id;
    const char *name, *decipher;
    int ind;
    bool net;
} kForms[] = {
    {FormF30, "Ф30", "Сведения о медицинской организации", 1, false},
    {FormF14, "Ф14", "Сведения о деятельности стационара", 2, false},
    {FormF47, "Ф47", "Сведения о сети и деятельности медицинских организаций", 3, true},
};

// A title of a table's header: its cell, the last cell it spans, its text.
struct TitleRow {
    int col, row, endCol, endRow;
    const char *text;
    const char *tchars = "CC00";
    bool bold = false;
};

// A table (its ident is its place in kTables, from 1): the header titles,
// the names and codes of its data rows, its column widths and row heights.
struct TableRow {
    int form;
    const char *tablen, *name;
    int colcount, rowcount, fixcols, fixrows;
    bool floattype;
    QList<TitleRow> titles;
    QList<const char *> rowNames, rowCodes;
    QList<double> widths, heights;
};

const TableRow kTables[] = {
    {FormF30, "(1000)", "Штаты", 7, 8, 3, 3, false,
     {{1, 1, 1, 2, "Наименование должностей", "CC00", true},
      {2, 1, 2, 2, "№ строки", "CC10"},
      {3, 1, 3, 2, "Код"},
      {4, 1, 5, 1, "Число должностей: в целом по организации"},
      {4, 2, 4, 2, "штатных"},
      {5, 2, 5, 2, "занятых"},
      {6, 1, 7, 1, "Число физических лиц"},
      {6, 2, 6, 2, "всего"},
      {7, 2, 7, 2, "из них женщин", "BC10"}},
     {"Врачи - всего", "в том числе: терапевты", "хирурги", "Средний медицинский персонал",
      "Младший медицинский персонал"},
     {"01", "02", "03", "04", "05"},
     {180, 30, 36, 60, 60, 60, 60},
     {30, 45, 15, 18, 18, 18, 18, 18}},
    {FormF30, "(2000)", "Посещения", 5, 5, 3, 2, false,
     {{1, 1, 1, 1, "Наименование"},
      {2, 1, 2, 1, "№ строки", "CC10"},
      {3, 1, 3, 1, "Код"},
      {4, 1, 4, 1, "Число посещений"},
      {5, 1, 5, 1, "из них сельскими жителями"}},
     {"Посещения - всего", "в том числе: по заболеваниям", "профилактические"},
     {"01", "02", "03"},
     {180, 30, 36, 72, 72},
     {45, 15, 18, 18, 18}},
    {FormF14, "(1000)", "Состав больных в стационаре", 6, 6, 3, 2, true,
     {{1, 1, 1, 1, "Наименование болезней"},
      {2, 1, 2, 1, "№ строки", "CC10"},
      {3, 1, 3, 1, "Код по МКБ-10"},
      {4, 1, 4, 1, "Выписано"},
      {5, 1, 5, 1, "Проведено койко-дней"},
      {6, 1, 6, 1, "Умерло"}},
     {"Всего", "в том числе: инфекционные болезни", "новообразования", "болезни системы кровообращения"},
     {"A00-T98", "A00-B99", "C00-D48", "I00-I99"},
     {180, 30, 48, 60, 60, 60},
     {45, 15, 18, 18, 18, 18}},
    // The network form.
    {FormF47, "(1000)", "Сеть медицинских организаций", 5, 6, 3, 2, false,
     {{1, 1, 1, 1, "Наименование"},
      {2, 1, 2, 1, "№ строки", "CC10"},
      {3, 1, 3, 1, "Код"},
      {4, 1, 4, 1, "Число организаций"},
      {5, 1, 5, 1, "Число коек"}},
     {"Больницы", "Поликлиники", "ФАП", "Крупные стационары"},
     {"01", "02", "03", "04"},
     {180, 30, 36, 60, 60},
     {45, 15, 18, 18, 18, 18}},
};

// Calculated cells of Ф47 (grid coordinates; -1 makes a row or column rule).
const char kLargeInpatient[] = "Ф30Т(1000)СТР1ГР4>0 AND (Ф14Т(1000)СТР1ГР6>10 OR Ф30Т(2000)СТР1ГР4>8000)";
const struct ConditionRow {
    int row, col;
    bool sum;
    const char *formula, *condition;
    int koeff;
    bool rural, average;
    const char *types;
} kConditions[] = {
    {0, 0, false, nullptr, nullptr, 1, false, false, "2"},
    {0, 1, true, "Ф14Т(1000)СТР1ГР5", nullptr, 365, false, false, "2,3"},
    {1, 0, false, nullptr, nullptr, 1, false, false, "5"},
    {1, 1, true, "Ф30Т(2000)СТР1ГР4", nullptr, 1, false, true, "5"},
    {2, 0, false, nullptr, nullptr, 1, true, false, "6"},
    {3, 0, false, nullptr, kLargeInpatient, 1, false, false, "2,3"},
    // A row rule crossed with a column rule (scan 0: row rules outer): the
    // beds of the large hospitals, Ф14Т(1000)СТР1 from the row rule with
    // "*ГР5" of the column rule, over the institutions both conditions leave.
    {3, -1, false, "Ф14Т(1000)СТР1", kLargeInpatient, 1, false, false, "2,3"},
    {-1, 1, true, "*ГР5", nullptr, 365, false, false, "*"},
};

// Control rules; tble "" and NULL both mean the rule spans the form's tables.
const struct ControlRow {
    int key, formid;
    const char *tble, *left, *relation, *right, *cycle, *comment;
} kControls[] = {
    {RuleDoctorsByColumn, FormF30, "(1000)", "СТР[1]", ">=", "СТР[2]+СТР[3]", "ГР[4..7]",
     "Врачи всего не меньше суммы терапевтов и хирургов"},
    {RuleOccupiedPositions, FormF30, "(1000)", "СТР[1]ГР[5]", "<=", "СТР[1]ГР[4]", nullptr,
     "Занятых должностей не больше штатных"},
    {RuleWomenByRow, FormF30, "(1000)", "ГР[7]", "<=", "ГР[6]", "СТР[1..5]", "Женщин не больше физических лиц"},
    {RuleVisitsVsPositions, FormF30, "", "Т[2000]СТР[1]ГР[4]", ">=", "Т[1000]СТР[1]ГР[5]", nullptr,
     "Посещений не меньше занятых должностей врачей"},
    {RuleRuralVisits, FormF30, nullptr, "Т[2000]СТР[1]ГР[5]", "<=", "Т[2000]СТР[1]ГР[4]", nullptr,
     "Посещений сельскими жителями не больше всех"},
    {RuleDischargedVsVisits, 0, "", "Ф14Т[1000]СТР[1]ГР[4]", "<=", "Ф30Т[2000]СТР[1]ГР[4]", nullptr,
     "Выписанных не больше посещений"},
    {RulePatientsByColumn, FormF14, "(1000)", "СТР[1]", ">=", "СТР[2]+СТР[3]+СТР[4]", "ГР[4..6]",
     "Всего не меньше суммы по группам болезней"},
};

// Summary reports; the population of a report is that of its territory.
const char kAllInstitutions[] = "5,6,7,8,9,10,11,12,13,14,15,16,";
const struct ReportRow {
    int id;
    const char *name, *include;
    bool net;
    int ind;
    int territory;     // 0: no population
} kReports[] = {
    {ReportRegion, "Свод по области", kAllInstitutions, false, 0, Region},
    {ReportNorth, "Свод по Северному району", "5,6,7,8,", false, 1, North},
    {ReportNetwork, "Сеть Ф47", kAllInstitutions, true, 2, 0},
    {ReportComposite, "Итоговый свод", nullptr, false, 3, 0},
};
const struct StatisticsRow {
    int base;
    const char *include;
} kStatistics[] = {{ReportComposite, "1,2"}};

// Indicator sets and the lines of set SetStaffing.
const struct SetRow {
    int ident;
    const char *part;
    int depend;
} kSets[] = {{SetHealth, "Показатели здоровья", 0}, {SetStaffing, "Обеспеченность кадрами", SetHealth}};
const struct SetColumnRow {
    int column;
    const char *title;
    int width;
} kSetColumns[] = {{0, "Показатель", 200}, {1, "Значение", 64}};
const struct SetLineRow {
    int row;
    const char *title;
} kSetRows[] = {{0, "Наименование"}, {1, "Врачей на 10000 населения"}, {2, "Укомплектованность: %"}};
const struct SetFormulaRow {
    int row, column;
    const char *formula;
} kSetFormulas[] = {{0, -1, "ВРАЧИ=Ф30Т[1000]СТР1ГР5"},
                    {1, 1, "ВРАЧИ*10000/НАСЕЛЕНИЕ0"},
                    {2, 1, "Ф30Т[1000]СТР1ГР5/Ф30Т[1000]СТР1ГР4*100;%"}};

// ---- definitions: storing the rows ----------------------------------------

QString textOf(const char *s) {
    if (!s) return QString();
    return *s ? QString::fromUtf8(s) : QStringLiteral("");
}

// Population factor of a node: the sum of the ids of its institutions.
qint64 populationFactor(int id) {
    qint64 sum = 0;
    for (const Institution &u : kUnits)
        if (isInstitution(u) && (u.id == id || u.parent == id || id == Region)) sum += u.id;
    return sum;
}

void insertPopulation(const QSqlDatabase &d, const QString &table, int unit, int year, qint64 m) {
    insert(d, table, QStringLiteral("unit,year,common,olds,teens,childs"),
           {unit, year, 1000 * m, 700 * m, 100 * m, 200 * m});
}

void storeTerritory(const QSqlDatabase &d, int year) {
    for (const TypeRow &t : kTypes)
        insert(d, QStringLiteral("medicaltypes"), QStringLiteral("id,parent,type,ind"),
               {t.id, t.parent, textOf(t.name), t.ind});
    for (const Institution &u : kUnits)
        insert(d, QStringLiteral("administration"), QStringLiteral("id,unit,dependence,medicaltype,country,ind"),
               {u.id, textOf(u.name), u.parent, u.type, u.rural, u.ind});
    for (const Institution &u : kUnits)
        insertPopulation(d, QStringLiteral("populations1"), u.id, year, populationFactor(u.id));
}

void storeTitle(const QSqlDatabase &d, int ident, int col, int row, int endCol, int endRow, const QString &text,
                const char *tchars = "CC00", bool bold = false) {
    insert(d, QStringLiteral("titles"),
           QStringLiteral("\"table\",\"column\",\"row\",union_sc,union_sr,union_ec,union_er,fontname,fontsize,"
                          "fontbold,fontitalic,tchars,txt"),
           {ident, col, row, col, row, endCol, endRow, QStringLiteral("Arial Cyr"), 10, bold, false, textOf(tchars),
            text::encodeColon(text)});
}

// The header titles; the numbering row (row fixrows: 1..colcount); the row
// names in column 1, row numbers in column fixcols-1, codes in column fixcols;
// then the sizes.
void storeTable(const QSqlDatabase &d, const TableRow &t) {
    insert(d, QStringLiteral("tables"),
           QStringLiteral("form,tablen,name,colcount,rowcount,fixcols,fixrows,floattype,scan"),
           {t.form, textOf(t.tablen), textOf(t.name), t.colcount, t.rowcount, t.fixcols, t.fixrows, t.floattype, 0});
    const int ident = int(db::lastInsertId(d));
    for (const TitleRow &h : t.titles)
        storeTitle(d, ident, h.col, h.row, h.endCol, h.endRow, textOf(h.text), h.tchars, h.bold);
    const auto cell = [&](int col, int row, const QString &text, const char *tchars = "CC00") {
        storeTitle(d, ident, col, row, col, row, text, tchars);
    };
    for (int c = 1; c <= t.colcount; ++c) cell(c, t.fixrows, QString::number(c));
    for (int i = 0; i < t.rowNames.size(); ++i) {
        const int row = cells::structRowOfGrid(i, t.fixrows);
        cell(1, row, textOf(t.rowNames[i]), "CL00");
        cell(t.fixcols - 1, row, QString::number(i + 1));
        cell(t.fixcols, row, textOf(t.rowCodes.value(i)));
    }
    for (int c = 0; c < t.widths.size(); ++c)
        insert(d, QStringLiteral("\"columns\""), QStringLiteral("\"table\",\"column\",width"),
               {ident, c + 1, t.widths[c]});
    for (int r = 0; r < t.heights.size(); ++r)
        insert(d, QStringLiteral("\"rows\""), QStringLiteral("\"table\",\"row\",height"), {ident, r + 1, t.heights[r]});
}

void storeForms(const QSqlDatabase &d) {
    for (const FormRow &f : kForms)
        insert(d, QStringLiteral("forms"), QStringLiteral("id,formname,decipher,ind,net"),
               {f.id, textOf(f.name), textOf(f.decipher), f.ind, f.net});
    for (const TableRow &t : kTables) storeTable(d, t);
    for (const ConditionRow &c : kConditions)
        insert(d, QStringLiteral("conditions"),
               QStringLiteral("tid,\"row\",\"column\",type,formula,condition,koeff,country,lft,rght,midle,types"),
               {TableF47Network, c.row, c.col, c.sum, textOf(c.formula), textOf(c.condition), c.koeff, c.rural,
                QString(), QString(), c.average, textOf(c.types)});
    for (const TypeFormRow &a : kTypeForms)
        insert(d, QStringLiteral("med_type_forms"), QStringLiteral("medicalsId,formsId"), {a.type, a.form});
    for (const ControlRow &c : kControls)
        insert(d, QStringLiteral("int_control"), QStringLiteral("\"Код\",formid,tble,lft,reltion,rght,cycl,commnt"),
               {c.key, c.formid, textOf(c.tble), textOf(c.left), textOf(c.relation), textOf(c.right),
                textOf(c.cycle), textOf(c.comment)});
}

void storeReports(const QSqlDatabase &d, int year) {
    insert(d, QStringLiteral("subreps"), QStringLiteral("id,name"), {LevelQuarter, QStringLiteral("1 квартал")});
    for (const ReportRow &r : kReports)
        insert(d, QStringLiteral("reports"), QStringLiteral("id,report,include,net,ind"),
               {r.id, textOf(r.name), textOf(r.include), r.net, r.ind});
    for (const StatisticsRow &s : kStatistics)
        insert(d, QStringLiteral("statistics"), QStringLiteral("base,include"), {s.base, textOf(s.include)});
    for (const ReportRow &r : kReports)
        if (r.territory) insertPopulation(d, QStringLiteral("populations"), r.id, year, populationFactor(r.territory));
}

void storeIndicatorSets(const QSqlDatabase &d) {
    for (const SetRow &s : kSets)
        insert(d, QStringLiteral("tree"), QStringLiteral("ident,part,depend"), {s.ident, textOf(s.part), s.depend});
    for (const SetColumnRow &c : kSetColumns)
        insert(d, QStringLiteral("col_titles"), QStringLiteral("term,\"column\",title,width"),
               {SetStaffing, c.column, text::encodeColon(textOf(c.title)), c.width});
    for (const SetLineRow &r : kSetRows)
        insert(d, QStringLiteral("row_titles"), QStringLiteral("term,\"row\",title,height"),
               {SetStaffing, r.row, text::encodeColon(textOf(r.title)), 20});
    for (const SetFormulaRow &f : kSetFormulas)
        insert(d, QStringLiteral("formulas"), QStringLiteral("term,\"row\",\"column\",formula"),
               {SetStaffing, f.row, f.column, text::encodeColon(textOf(f.formula))});
}

void fillDefinitions(const QSqlDatabase &d, int year) {
    storeTerritory(d, year);
    storeForms(d);
    storeReports(d, year);
    storeIndicatorSets(d);
}

// ---- values -----------------------------------------------------------------

struct Cell {
    int table, col, row;   // reference numbering (ГР m, СТР n)
    double value;
};

QList<Cell> valuesFor(int id, bool previousYear) {
    QList<Cell> out;
    const int f30[] = {NorthHospital, NorthPolyclinic, FapOzerny, SouthHospital, SouthPolyclinic, FapStepnoy,
                       RegionalHospital, OncologyDispensary};
    const int f14[] = {NorthHospital, SouthHospital, RegionalHospital, OncologyDispensary};
    const double b = 10.0 * id - (previousYear ? 4 : 0);

    if (std::find(std::begin(f30), std::end(f30), id) != std::end(f30)) {
        // Ф30 (1000): m[row 1..5][col 4..7]
        double m[6][8] = {};
        m[1][4] = b, m[1][5] = b - 2, m[1][6] = b - 3, m[1][7] = std::floor((b - 3) / 2);
        for (int c = 4; c <= 7; ++c) {
            m[2][c] = std::floor(0.4 * m[1][c]);
            m[3][c] = std::floor(0.3 * m[1][c]);
            m[4][c] = 2 * m[1][c];
            m[5][c] = m[1][c];
        }
        if (id == SouthHospital) m[2][5] = m[1][5];
        if (id == RegionalHospital) m[1][5] = m[1][4] + 3;
        for (int r = 1; r <= 5; ++r)
            for (int c = 4; c <= 7; ++c) out.append({TableF30Staff, c, r, m[r][c]});

        // Ф30 (2000): v[row 1..3][col 4..5]
        double v[4][6] = {};
        v[1][4] = 100 * b, v[1][5] = 30 * b;
        for (int c = 4; c <= 5; ++c) {
            v[2][c] = std::floor(0.6 * v[1][c]);
            v[3][c] = std::floor(0.4 * v[1][c]);
        }
        if (id == FapOzerny) v[1][5] = v[1][4] + 1;
        for (int r = 1; r <= 3; ++r)
            for (int c = 4; c <= 5; ++c) out.append({TableF30Visits, c, r, v[r][c]});
    }
    if (std::find(std::begin(f14), std::end(f14), id) != std::end(f14)) {
        double p[5][7] = {};
        p[1][4] = 5 * b, p[1][5] = 45 * b + 0.5, p[1][6] = std::floor(b / 10);
        const double share[] = {0, 0, 0.2, 0.3, 0.4};
        for (int r = 2; r <= 4; ++r)
            for (int c = 4; c <= 6; ++c) p[r][c] = std::floor(share[r] * p[1][c]);
        for (int r = 1; r <= 4; ++r)
            for (int c = 4; c <= 6; ++c) out.append({TableF14Patients, c, r, p[r][c]});
    }
    return out;
}

// Value of one cell of an institution's values (0 when it has none).
double valueOf(int id, bool previousYear, int table, int col, int row) {
    for (const Cell &c : valuesFor(id, previousYear))
        if (c.table == table && c.col == col && c.row == row) return c.value;
    return 0;
}

// Ф47 (1000) of the network report, as its calculated cells give it over
// every institution: grid (r, c) is reference row r + 1, column c + 4.
QList<Cell> networkValues(bool previousYear) {
    auto bedDays = [&](std::initializer_list<int> ids) {
        double sum = 0;
        for (int id : ids) sum += valueOf(id, previousYear, TableF14Patients, 5, 1);
        return sum;
    };
    const double visits = valueOf(NorthPolyclinic, previousYear, TableF30Visits, 4, 1) +
                          valueOf(SouthPolyclinic, previousYear, TableF30Visits, 4, 1) +
                          valueOf(CityPolyclinic, previousYear, TableF30Visits, 4, 1);
    auto r2 = [](double v) { return std::round(v * 100) / 100; };
    return {
        {TableF47Network, 4, 1, 4},   // hospitals: 5, 9, 12, 13
        {TableF47Network, 5, 1,
         r2(bedDays({NorthHospital, SouthHospital, RegionalHospital, OncologyDispensary}) / 365)},
        {TableF47Network, 4, 2, 3},   // polyclinics: 6, 10, 14
        {TableF47Network, 5, 2, r2(visits / 3)},
        {TableF47Network, 4, 3, 3},   // rural ФАП: 7, 8, 11
        {TableF47Network, 4, 4, 3},   // large hospitals and dispensaries: 9, 13, 15
        {TableF47Network, 5, 4, r2(bedDays({SouthHospital, RegionalHospital, OncologyDispensary}) / 365)},
    };
}

int fixrowsOf(int table) { return table == TableF30Staff ? 3 : 2; }

void insertValue(const QSqlDatabase &d, ValueTable valueTable, qint64 hospital, int year, const Cell &c) {
    if (c.value == 0) return;   // zero cells have no row
    db::exec(d, QStringLiteral("insert into %1 values (?,?,?,?,?,?)").arg(ValueTableName(valueTable)),
             {hospital, c.value, year, c.table, cells::storedColumnOfRef(c.col),
              cells::storedRowOfRef(c.row, fixrowsOf(c.table))});
}

void fillValues(const QString &yearFolder, int year, bool previousYear) {
    {
        db::ScopedConnection c(yearFolder + QStringLiteral("data0.mdb"), db::OpenMode::ReadWrite,
                               QStringLiteral("sample"));
        const QSqlDatabase d = c.db();
        db::transaction(d, [&] {
            QMap<QPair<int, int>, double> region;   // Ф30 (2000) sums of report 1
            for (const Institution &u : kUnits) {
                if (!isInstitution(u)) continue;
                for (const Cell &cell : valuesFor(u.id, previousYear)) {
                    insertValue(d, ValueTable::Data, u.id, year, cell);
                    if (cell.table == TableF30Visits) region[{cell.col, cell.row}] += cell.value;
                }
            }
            for (auto it = region.cbegin(); it != region.cend(); ++it)
                insertValue(d, ValueTable::RepData, ReportRegion, year,
                            {TableF30Visits, it.key().first, it.key().second, it.value()});
            for (const Cell &cell : networkValues(previousYear))
                insertValue(d, ValueTable::RepData, ReportNetwork, year, cell);
        });
    }
    {
        db::ScopedConnection c(yearFolder + QStringLiteral("data1.mdb"), db::OpenMode::ReadWrite,
                               QStringLiteral("sample"));
        const QSqlDatabase d = c.db();
        for (int id : {int(NorthHospital), int(SouthHospital)}) {
            const double b = 10.0 * id - (previousYear ? 4 : 0);
            insertValue(d, ValueTable::Data, id, year, {TableF30Visits, 4, 1, 25 * b});
        }
    }
}

// The print template of Ф30, made by the program's own office layer: the
// form's heading and table (1000) "Штаты" with its titles, three header rows
// and the five rows whose cells ГР4..ГР7 the mapping fills.
void writeF30Template(const QString &file) {
    office::WordDocument doc = office::WordDocument::createBlank();
    doc.insertBefore(QStringLiteral("Форма № 30. Сведения о медицинской организации. Таблица (1000) \"Штаты\""));
    office::WordTable t = doc.addTable(8, 7);
    const QStringList head1 = {QStringLiteral("Наименование должностей"), QStringLiteral("№ строки"),
                               QStringLiteral("Код"), QStringLiteral("Число должностей: в целом по организации"),
                               QString(), QStringLiteral("Число физических лиц"), QString()};
    const QStringList head2 = {QString(), QString(), QString(), QStringLiteral("штатных"), QStringLiteral("занятых"),
                               QStringLiteral("всего"), QStringLiteral("из них женщин")};
    for (int c = 0; c < 7; ++c) {
        t.setCellText(1, c + 1, head1[c]);
        t.setCellText(2, c + 1, head2[c]);
        t.setCellText(3, c + 1, QString::number(c + 1));
    }
    const QStringList names = {QStringLiteral("Врачи - всего"), QStringLiteral("в том числе: терапевты"),
                               QStringLiteral("хирурги"), QStringLiteral("Средний медицинский персонал"),
                               QStringLiteral("Младший медицинский персонал")};
    for (int r = 0; r < names.size(); ++r) {
        t.setCellText(4 + r, 1, names[r]);
        t.setCellText(4 + r, 2, QString::number(r + 1));
        t.setCellText(4 + r, 3, QStringLiteral("0%1").arg(r + 1));
    }
    doc.saveAs(file);
}

void createYear(const QString &configFolder, int year, bool previousYear) {
    const QString yearFolder = paths::withSlash(configFolder) + QString::number(year) + QLatin1Char('/');
    if (!paths::makePath(yearFolder + QStringLiteral("forms")))
        throw db::Error(QStringLiteral("Не удалось создать папку %1").arg(yearFolder));

    const QString mainFile = yearFolder + QStringLiteral("orvmain.mdb");
    schema::createMainDatabase(mainFile);
    {
        db::ScopedConnection c(mainFile, db::OpenMode::ReadWrite, QStringLiteral("sample"));
        db::transaction(c.db(), [&] { fillDefinitions(c.db(), year); });
    }
    schema::createValuesDatabase(yearFolder + QStringLiteral("data0.mdb"));
    schema::createValuesDatabase(yearFolder + QStringLiteral("data1.mdb"));
    fillValues(yearFolder, year, previousYear);

    // Cell mapping of the print template of Ф30: Word table 1 from column 4,
    // row 4 receives the data cells of table (1000).
    QString error;
    const QString file = yearFolder + QStringLiteral("forms/Ф30.txt");
    if (!cp1251::writeLines(file, {QStringLiteral("1,4,4,[(1000)],4,1,7,5")}, &error))
        throw db::Error(QStringLiteral("Не удалось записать файл %1: %2").arg(file, error));
    writeF30Template(yearFolder + QStringLiteral("forms/Ф30.docx"));
}

} // namespace

void createConfiguration(const QString &configFolder, int year, bool withPreviousYear) {
    createYear(configFolder, year, false);
    if (withPreviousYear) createYear(configFolder, year - 1, true);
}

void createProgramFiles(const QString &programFolder) {
    const QString source = paths::withSlash(programFolder) + QStringLiteral("source/");
    if (!paths::makePath(source)) throw db::Error(QStringLiteral("Не удалось создать папку %1").arg(source));
    schema::createValuesDatabase(source + QStringLiteral("data0.mdb"));
}

void registerConfiguration(const QString &settingsFile, const QString &name, const QString &configFolder,
                           int year) {
    IniFile ini(settingsFile);
    bool ok = ini.writeString(QStringLiteral("Конфигурации"), name, paths::withoutSlash(configFolder));
    if (ok && (year != 0 || !ini.valueExists(QStringLiteral("Конфигурация"), QStringLiteral("Year"))))
        ok = ini.writeInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"),
                              year != 0 ? year : QDate::currentDate().year());
    if (ok && !ini.valueExists(QStringLiteral("Конфигурация"), QStringLiteral("Last")))
        ok = ini.writeInteger(QStringLiteral("Конфигурация"), QStringLiteral("Last"), 0);
    if (!ok) throw db::Error(QStringLiteral("Не удалось записать файл настроек %1: %2").arg(settingsFile, ini.lastError()));
}

} // namespace sample
