#pragma once
// Code page 1251 text: the encoding of every text file the program reads or
// writes. Control bytes (1, 2, 3), CR and LF pass through unchanged.
#include <QByteArray>
#include <QList>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace cp1251 {

QString decode(const QByteArray &bytes);
QByteArray encode(const QString &text);
// The distinct characters (code points, in the order they first stand) of
// text that code page 1251 cannot hold (encode would write "?" for them);
// empty when it holds them all. A lone surrogate is given as its own value.
QList<char32_t> unencodable(const QString &text);
// The encoding a file's bytes are in when they are not code page 1251 text:
// "UTF-16" (a byte-order mark, or NUL bytes in alternate positions),
// "UTF-8" (a byte-order mark, or non-ASCII bytes that all form well-formed
// sequences of characters a text holds), kDamagedUtf8 (mostly such
// sequences, with bytes between them that form none), "DOS (cp866)" or
// "KOI8-R" (the text reads as Russian in that code page far better than in
// 1251: letter frequencies and the case of letters within words), or
// kUndefinedByte (1251 text with the byte 0x98, which 1251 leaves undefined),
// kNulBytes (NUL bytes on both sides: no 1251 text holds NUL).
// Empty for code page 1251 text, and for texts too short to tell.
extern const char kDamagedUtf8[];
extern const char kUndefinedByte[];
// NUL bytes not all on one side: UTF-16 that lost or gained a byte, or no text.
extern const char kNulBytes[];
QString foreignEncoding(const QByteArray &bytes);

// The one message for a text file from outside in another encoding ("файл
// сохранён не в кодировке Windows-1251, а в кодировке UTF-8. ..."), or empty
// when the bytes are code page 1251 text. Callers put the file name before it.
QString encodingProblem(const QByteArray &bytes);
QString encodingMessage(const QString &encoding);

// The first character (code point) of the text that code page 1251 cannot
// hold (it would be written as "?"), or 0 when every character fits.
char32_t firstUnencodable(const QString &text);

enum class Encoding { Cp1251, Cp1251OrUtf8 };

// The one reader of text files: reads the file and splits it into lines at
// CR LF (a lone LF or CR also ends a line). Returns false, with lines empty
// and error set, when the file cannot be read or is in another encoding
// (encodingProblem): callers refuse such a file before they change anything.
// The error is the reason alone ("файл не найден", "нет доступа", the code
// page found); callers name the file.
// Cp1251OrUtf8 (the settings file only) also reads valid UTF-8, and reads
// code page 1251 whatever a KOI8-R or cp866 guess says: the program wrote it
// (the byte 0x98 and NUL bytes are refused all the same).
// guess (Cp1251OrUtf8): the code page a file read as 1251 all the same looks
// like ("KOI8-R", "DOS (cp866)"), empty when none.
bool readLines(const QString &path, QStringList &lines, QString *error = nullptr,
               Encoding encoding = Encoding::Cp1251, QString *guess = nullptr);

// Writes the bytes as the whole file: written to a temporary name with every
// write and flush checked, then renamed over the file. On any failure (a full
// disk, a size limit, no access) the previous file stays as it was and error
// gets the reason in Russian ("на диске нет места"); callers name the file.
// With a valid modified time the file carries it (set before the rename).
bool writeFile(const QString &path, const QByteArray &bytes, QString *error = nullptr,
               const QDateTime &modified = QDateTime());

// The reason of a failed file operation (an errno value) in Russian.
QString systemReason(int err);

// Writes the lines, each ended by CR LF, through writeFile.
bool writeLines(const QString &path, const QStringList &lines, QString *error = nullptr);

// Appends lines (CR LF each) to a file, creating it when missing. A write
// that does not complete is cut off again, so the file keeps its previous
// content.
bool appendLines(const QString &path, const QStringList &lines, QString *error = nullptr);

// True for bytes that are UTF-8 rather than code page 1251 text: a UTF-8
// byte-order mark, or non-ASCII bytes that all form UTF-8 sequences (Cyrillic
// in code page 1251 never does: a letter byte is followed by another letter,
// not by a continuation byte).
bool looksLikeUtf8(const QByteArray &bytes);

} // namespace cp1251
