# Fails when a database failure can reach the user past the one translation
# in platform/Database.cpp: SQLite's or the driver's own text, or a
# statement's error read outside db::statementFailure.
# Run: cmake -DROOT=<source folder> -P DatabaseErrors.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  PATTERN "sqlite3_errmsg|databaseText|driverText|nativeErrorCode|lastError\\(\\)"
  # A settings or text file's own lastError() is no database's.
  SKIP "statementFailure\\(|ini\\.lastError|IniFile|m_error"
  ALLOW_FILES platform/Database.cpp platform/Database.h
  WHAT "database error text(s) outside the translation"
  OK "database errors: one translation")
