#include "engine/Schema.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QFile>
#include <QFileInfo>

namespace schema {

QString zenkorControlsStatement() {
    return QStringLiteral(
        "create table if not exists zenkor_controls ("
        "id integer constraint pk_zenkor primary key autoincrement, "
        "original_line text, zenkor_id text(12), book_number text(2), condition_number text(6), "
        "error_type text(3), form_code text(10), table_num text(10), lft text(255), rght text(255), "
        "reltion text(5), cycl text(255), commnt text(255), project_formid integer, "
        "project_tble text(20), control_type integer)");
}

QStringList updateBookkeepingStatements() {
    return {
        QStringLiteral("create table if not exists updates ("
                       "id integer constraint pk_updates primary key autoincrement, update_id text(50), "
                       "version text(20), year integer, install_date datetime, status text(20), "
                       "description text(255), archive_checksum text(64), archive_size integer)"),
        QStringLiteral("create table if not exists update_forms ("
                       "id integer constraint pk_update_forms primary key autoincrement, update_id text(50), "
                       "form_name text(10), form_version text(20), form_file text(255), "
                       "controls_version text(20), controls_file text(255), has_print_doc integer, "
                       "has_print_txt integer, install_date datetime)"),
        QStringLiteral("create table if not exists update_global_controls ("
                       "id integer constraint pk_update_global_controls primary key autoincrement, "
                       "update_id text(50), version text(20), file_name text(255), checksum text(64), "
                       "install_date datetime)"),
        QStringLiteral("create table if not exists installed_form_versions ("
                       "form_name text(10) constraint pk_installed_form_versions primary key, "
                       "form_version text(20), controls_version text(20), last_update_id text(50), "
                       "last_update_date datetime)"),
    };
}

QStringList mainTableStatements() {
    QStringList s = {
        // Report forms and the structure of their tables.
        QStringLiteral("create table if not exists forms (id integer primary key autoincrement, formname text, "
                       "decipher text, ind integer default 999, net boolean default false)"),
        QStringLiteral("create table if not exists tables (ident integer primary key autoincrement, form integer, "
                       "tablen text, name text, colcount integer default 0, rowcount integer default 0, "
                       "fixcols integer default 0, fixrows integer default 0, floattype boolean default false, "
                       "scan integer default 0)"),
        QStringLiteral("create index if not exists tables_form on tables (form, tablen)"),
        QStringLiteral("create table if not exists \"rows\" (\"table\" integer, \"row\" integer, height double)"),
        QStringLiteral("create index if not exists rows_table on \"rows\" (\"table\")"),
        QStringLiteral("create table if not exists \"columns\" (\"table\" integer, \"column\" integer, width double)"),
        QStringLiteral("create index if not exists columns_table on \"columns\" (\"table\")"),
        QStringLiteral("create table if not exists titles (\"table\" integer, \"column\" integer, \"row\" integer, "
                       "union_sc integer, union_sr integer, union_ec integer, union_er integer, fontname text, "
                       "fontsize integer, fontbold boolean, fontitalic boolean, tchars text, txt text)"),
        QStringLiteral("create index if not exists titles_table on titles (\"table\")"),
        // Calculated cells (inserted by position).
        QStringLiteral("create table if not exists conditions (tid integer, \"row\" integer, \"column\" integer, "
                       "type boolean, formula text, condition text, koeff integer, country boolean, lft text, "
                       "rght text, midle boolean, types text)"),
        QStringLiteral("create index if not exists conditions_tid on conditions (tid)"),
        // Territory, institutions and their types.
        QStringLiteral("create table if not exists administration (id integer primary key autoincrement, unit text, "
                       "dependence integer default 0, medicaltype integer default -1, country boolean default false, "
                       "ind integer default 9999)"),
        QStringLiteral("create table if not exists populations1 (unit integer, year integer, common integer, "
                       "olds integer, teens integer, childs integer)"),
        QStringLiteral("create table if not exists medicaltypes (id integer primary key autoincrement, "
                       "parent integer default 0, type text, ind integer default 0)"),
        QStringLiteral("create table if not exists med_type_forms (medicalsId integer, formsId integer)"),
        // Control rules.
        QStringLiteral("create table if not exists int_control (\"Код\" integer primary key autoincrement, "
                       "formid integer, tble text, lft text, reltion text, rght text, cycl text, commnt text)"),
        QStringLiteral("create index if not exists int_control_form on int_control (formid, tble)"),
        // Sub-report levels.
        QStringLiteral("create table if not exists subreps (id integer primary key autoincrement, name text)"),
        // Summary reports.
        QStringLiteral("create table if not exists reports (id integer primary key autoincrement, report text, "
                       "include text, net boolean default false, ind integer default 0)"),
        QStringLiteral("create table if not exists statistics (base integer, include text)"),
        QStringLiteral("create table if not exists populations (unit integer, year integer, common integer, "
                       "olds integer, teens integer, childs integer)"),
        // Indicator sets.
        QStringLiteral("create table if not exists tree (ident integer primary key autoincrement, part text, "
                       "depend integer default 0)"),
        QStringLiteral("create table if not exists col_titles (term integer, \"column\" integer, title text, "
                       "width integer)"),
        QStringLiteral("create table if not exists row_titles (term integer, \"row\" integer, title text, "
                       "height integer)"),
        QStringLiteral("create table if not exists formulas (term integer, \"row\" integer, \"column\" integer, "
                       "formula text)"),
    };
    // Imported control book.
    s.append(zenkorControlsStatement());
    // Update bookkeeping.
    s.append(updateBookkeepingStatements());
    return s;
}

QStringList valuesTableStatements() {
    QStringList s;
    for (const ValueTable table : {ValueTable::Data, ValueTable::RepData}) {
        const QString name = ValueTableName(table);
        s << QStringLiteral("create table if not exists %1 (hospital integer, data double, year integer, "
                            "\"table\" integer, \"column\" integer, \"row\" integer)")
                 .arg(name)
          << QStringLiteral("create index if not exists %1_key on %1 (\"table\", year, hospital)").arg(name)
          << QStringLiteral("create index if not exists %1_hospital on %1 (hospital, year)").arg(name);
    }
    return s;
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
