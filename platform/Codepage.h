#pragma once
// Code page 1251 text: the encoding of every text file the program reads or
// writes. Control bytes (1, 2, 3), CR and LF pass through unchanged.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace cp1251 {

QString decode(const QByteArray &bytes);
QByteArray encode(const QString &text);

// Reads a text file and splits it into lines at CR LF (a lone LF or CR also
// ends a line). Returns false when the file cannot be read.
bool readLines(const QString &path, QStringList &lines, QString *error = nullptr);

// Writes the lines, each ended by CR LF. The file is written to a temporary
// name first and renamed, so a failed write never leaves half a file.
bool writeLines(const QString &path, const QStringList &lines, QString *error = nullptr);

// Writes text already in code page 1251 (lines ended by CR LF) the same way.
bool writeBytes(const QString &path, const QByteArray &data, QString *error = nullptr);

// Appends lines (CR LF each) to a file, creating it when missing.
bool appendLines(const QString &path, const QStringList &lines, QString *error = nullptr);

} // namespace cp1251
