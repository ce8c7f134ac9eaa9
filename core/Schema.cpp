#include "core/Schema.h"
#include "platform/Database.h"

#include <QFile>
#include <QFileInfo>

namespace schema {

QStringList mainTableStatements() {
    return {
        // Report forms and the structure of their tables.
        QStringLiteral("create table if not exists forms (id integer primary key autoincrement, formname text, "
                       "decipher text, ind integer default 999, net boolean default false)"),
        QStringLiteral("create table if not exists tables (ident integer primary key autoincrement, form integer, "
                       "tablen text, name text, colcount integer default 0, rowcount integer default 0, "
                       "fixcols integer default 0, fixrows integer default 0, floattype boolean default false, "
                       "scan integer default 0)"),
        QStringLiteral("create table if not exists \"rows\" (\"table\" integer, \"row\" integer, height integer)"),
        QStringLiteral("create table if not exists \"columns\" (\"table\" integer, \"column\" integer, width integer)"),
        QStringLiteral("create table if not exists titles (\"table\" integer, \"column\" integer, \"row\" integer, "
                       "union_sc integer, union_sr integer, union_ec integer, union_er integer, fontname text, "
                       "fontsize integer, fontbold boolean, fontitalic boolean, tchars text, txt text)"),
        // Calculated cells.
        QStringLiteral("create table if not exists conditions (tid integer, \"row\" integer, \"column\" integer, "
                       "type integer, formula text, condition text, koeff double, country integer, lft text, "
                       "rght text, midle text, types text)"),
        // Territory, institutions and their types.
        QStringLiteral("create table if not exists administration (id integer primary key autoincrement, unit text, "
                       "dependence integer default 0, medicaltype integer default -1, country boolean default false, "
                       "ind integer default 0)"),
        QStringLiteral("create table if not exists populations1 (unit integer, year integer, common double, "
                       "olds double, teens double, childs double)"),
        QStringLiteral("create table if not exists medicaltypes (id integer primary key autoincrement, name text, "
                       "ind integer default 0)"),
        QStringLiteral("create table if not exists med_type_forms (medtype integer, form integer)"),
        // Control rules.
        QStringLiteral("create table if not exists int_control (\"Код\" integer primary key autoincrement, "
                       "formid integer, tble text, lft text, reltion text, rght text, cycl text, commnt text)"),
        // Sub-report levels.
        QStringLiteral("create table if not exists subreps (id integer primary key autoincrement, name text)"),
        // Summary reports.
        QStringLiteral("create table if not exists reports (id integer primary key autoincrement, report text, "
                       "include text, net boolean default false, ind integer default 0)"),
        QStringLiteral("create table if not exists statistics (id integer primary key autoincrement, name text, "
                       "include text)"),
        // Indicator sets.
        QStringLiteral("create table if not exists tree (ident integer primary key autoincrement, part text, "
                       "depend integer default 0, term text)"),
        QStringLiteral("create table if not exists row_titles (term text, \"row\" integer, txt text)"),
        QStringLiteral("create table if not exists col_titles (term text, \"column\" integer, txt text)"),
        QStringLiteral("create table if not exists formulas (term text, \"row\" integer, \"column\" integer, "
                       "formula text)"),
    };
}

QStringList valuesTableStatements() {
    return {
        QStringLiteral("create table if not exists data (hospital integer, data double, year integer, "
                       "\"table\" integer, \"column\" integer, \"row\" integer)"),
        QStringLiteral("create index if not exists data_key on data (\"table\", year, hospital)"),
        QStringLiteral("create table if not exists repdata (hospital integer, data double, year integer, "
                       "\"table\" integer, \"column\" integer, \"row\" integer)"),
        QStringLiteral("create index if not exists repdata_key on repdata (\"table\", year, hospital)"),
    };
}

static void runAll(const QSqlDatabase &d, const QStringList &statements) {
    db::transaction(d, [&] {
        for (const QString &s : statements) db::exec(d, s);
    });
}

void createMainTables(const QSqlDatabase &d) { runAll(d, mainTableStatements()); }
void createValuesTables(const QSqlDatabase &d) { runAll(d, valuesTableStatements()); }

static void createFile(const QString &file, void (*make)(const QSqlDatabase &)) {
    if (QFileInfo::exists(file) && !QFile::remove(file))
        throw db::Error(QStringLiteral("Не удалось заменить файл %1").arg(file));
    db::ScopedConnection c(file, db::OpenMode::Create, QStringLiteral("schema"));
    make(c.db());
}

void createMainDatabase(const QString &file) { createFile(file, &createMainTables); }
void createValuesDatabase(const QString &file) { createFile(file, &createValuesTables); }

} // namespace schema
