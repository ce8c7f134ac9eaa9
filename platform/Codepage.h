#pragma once
// Code page 1251 text: the encoding of every text file the program reads or
// writes. Control bytes (1, 2, 3), CR and LF pass through unchanged.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace cp1251 {

QString decode(const QByteArray &bytes);
QByteArray encode(const QString &text);
// The distinct characters of text that code page 1251 cannot hold (encode
// would write "?" for them); empty when it holds them all.
QString unencodable(const QString &text);
// False when lines read as code page 1251 look like a text saved in another
// encoding (UTF-8): the reader then hints at the encoding.
bool readsAsCyrillic(const QStringList &lines);

// Reads a text file and splits it into lines at CR LF (a lone LF or CR also
// ends a line). Returns false when the file cannot be read.
bool readLines(const QString &path, QStringList &lines, QString *error = nullptr);

// Writes the lines, each ended by CR LF. The file is written to a temporary
// name first and renamed, so a failed write never leaves half a file.
bool writeLines(const QString &path, const QStringList &lines, QString *error = nullptr);

// Appends lines (CR LF each) to a file, creating it when missing.
bool appendLines(const QString &path, const QStringList &lines, QString *error = nullptr);

} // namespace cp1251
