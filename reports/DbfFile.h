#pragma once
// A small dBASE III table writer and reader: 32-byte header, one 32-byte
// descriptor per field, 0x0D, fixed-length records (a deletion flag byte,
// then every field), 0x1A at the end. Texts are code page 1251, left-aligned
// and blank-filled; numbers are right-aligned decimal texts with "." as the
// separator. Only character (C) and numeric (N) fields are written.
#include "platform/Errors.h"
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QSaveFile>
#include <QString>
#include <QVariant>
#include <memory>
#include <stdexcept>

namespace dbf {

class Error : public AppError {
public:
    using AppError::AppError;
};

struct Field {
    QString name;       // at most 10 characters (stored upper-cased)
    char type = 'C';    // 'C' character, 'N' numeric
    int width = 1;      // 1..254
    int decimals = 0;   // numeric fields only; below width - 1
};

Field charField(const QString &name, int width);
Field numericField(const QString &name, int width, int decimals);

// True when the value can be written into the field: a text no longer than
// the field, a finite number whose text fits its width. A null value fits.
bool fits(const Field &field, const QVariant &value);

// Language driver byte written for code page 1251.
constexpr quint8 kLanguageCp1251 = 0xC9;

// Writes a new table. Records go to a temporary file beside the target; only
// commit() puts the table in place (replacing an older file of that name), so
// a failed or abandoned write leaves no partial table.
class Writer {
public:
    // Throws dbf::Error on an invalid field list.
    Writer(const QString &path, const QList<Field> &fields);
    ~Writer();   // discards the table unless committed
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // Creates the temporary file. Throws dbf::Error.
    void open();
    // One record; values in field order. Texts longer than their field and
    // numbers that do not fit are refused (dbf::Error), the record is not
    // written and the table stays usable. A null value writes blanks. A
    // failed write throws too; the table cannot be committed after it.
    void append(const QVariantList &values);
    // Completes the header and renames the table into place. Throws dbf::Error.
    void commit();

    int recordCount() const { return m_count; }
    int recordLength() const;
    int headerLength() const;
    const QString &path() const { return m_path; }

private:
    QByteArray header() const;
    QString m_path;
    QList<Field> m_fields;
    std::unique_ptr<QSaveFile> m_file;
    int m_count = 0;
    bool m_committed = false;
};

struct Table {
    quint8 version = 0;
    QDate updated;
    quint8 language = 0;
    int headerLength = 0;
    int recordLength = 0;
    QList<Field> fields;
    // Character fields: text without the trailing blanks; numeric fields:
    // double (null when blank).
    QList<QVariantList> records;
    QList<bool> deleted;
    bool endMark = false;        // 0x1A after the last record

    int fieldIndex(const QString &name) const;   // letter case ignored; -1 when none
    QVariant value(int record, const QString &field) const;
};

// Reads a whole table. Throws dbf::Error when the file is missing or damaged.
Table read(const QString &path);

} // namespace dbf
