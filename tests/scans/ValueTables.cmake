# Fails when a value table travels as text: a parameter, member or local of
# type QString named for it and not made by ValueTableName, or "data" /
# "repdata" written as a text of its own or spelt in a statement (after from,
# into, update, join, table, exists or on, or as the text 'data'); or when
# the database's value-row readers and writers (db::readInstitutionRows,
# db::ValueRowInsert, db::ValueRowBatch) or their checked table name
# (db::TableName::checked) are reached past the engine's wrappers in
# engine/TableValues (ValueRowWriter, ReadInstitutionValues).
# The table goes down as ValueTable (engine/WorkModes.h) and its SQL name is
# made only by ValueTableName where the statement is built, so that no text a
# user or a file gave can name the table a statement works on. The platform,
# below the engine, knows no ValueTable: it takes a db::TableName, a name it
# checked itself, and the engine's wrappers alone make one, of ValueTableName.
# Run: cmake -DROOT=<source folder> -P ValueTables.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
set(named "QString[ &]+(m_)?(valueTable|dataTable)[A-Za-z]* *[,;)=]")
set(literal "Q(String|Latin1String)(Literal|View)?\\(\"(rep)?data\"\\)")
set(rows "db::(readInstitutionRows|ValueRowInsert|ValueRowBatch)|TableName::checked\\(")
# A statement's table after its keyword (lower or upper case), quoted or with
# its database; CMake's expressions hold at most nine groups, so the name's
# letters are classes.
set(keyword "from|FROM|into|INTO|update|UPDATE|join|JOIN|table|TABLE|exists|EXISTS|on|ON")
set(name "[Rr]?[Ee]?[Pp]?[Dd][Aa][Tt][Aa]")
set(spelt "[^A-Za-z_](${keyword}) +[\\\\]?\"?([A-Za-z_]+\\.)?${name}[^A-Za-z0-9_]|'${name}'")
scan_lines(
  PATTERN "${named}|${literal}|${rows}|${spelt}"
  # Comments; a local made by the conversion itself; the folder of unloaded report files, called "data" too.
  SKIP "^ *//|= ValueTableName\\(|ConfigPath \\+ QStringLiteral\\(\"data\"\\)"
  ALLOW_LINES
    # The checked name's own definition.
    "platform/Database.cpp:TableName TableName::checked(const QString &name) {"
    # The engine's wrappers: the one writer and the one reader of value rows.
    "engine/TableValues.h:db::ValueRowBatch m_insert"
    "engine/TableValues.cpp:: m_insert(database, db::TableName::checked(writtenTable(valueTable)), rowsPerStatement),"
    "engine/TableValues.cpp:db::readInstitutionRows(database, db::TableName::checked(ValueTableName(valueTable)), institution, year, fields,"
  WHAT "value table(s) passed as text"
  OK "value tables: one conversion")
