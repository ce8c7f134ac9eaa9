#include "reports/DbfFile.h"
#include "platform/Errors.h"

#include "engine/NumberFormat.h"
#include "platform/Codepage.h"

#include <QFile>
#include <cerrno>
#include <QFileInfo>
#include <QtEndian>
#include <cmath>

namespace dbf {

namespace {

constexpr int kHeaderSize = 32;
constexpr int kDescriptorSize = 32;

QString fileName(const QString &path) { return QFileInfo(path).fileName(); }

QByteArray numberText(const Field &f, double value) {
    QString s;
    if (f.decimals == 2)
        s = num::fixed2(value);
    else if (f.decimals == 0)
        s = num::wholeText(value);
    else
        s = QString::number(value, 'f', f.decimals);
    if (s.startsWith(u'-') && s.mid(1).toDouble() == 0.0) s.remove(0, 1);   // no "-0.00"
    return s.toLatin1();
}

// The bytes of a value in its field; false when it is not a number for a
// numeric field or does not fit the width.
bool cellText(const Field &f, const QVariant &v, QByteArray &text) {
    text.clear();
    if (v.isNull())
        return true;
    if (f.type == 'C') {
        text = cp1251::encode(v.toString());
    } else {
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            return false;
        text = numberText(f, d);
    }
    return text.size() <= f.width;
}

} // namespace

bool fits(const Field &field, const QVariant &value) {
    QByteArray text;
    return cellText(field, value, text);
}

Field charField(const QString &name, int width) { return Field{name, 'C', width, 0}; }
Field numericField(const QString &name, int width, int decimals) { return Field{name, 'N', width, decimals}; }

Writer::Writer(const QString &path, const QList<Field> &fields) : m_path(path), m_fields(fields) {
    if (m_fields.isEmpty()) throw Error(QStringLiteral("Таблица DBF должна содержать хотя бы одно поле"));
    QStringList seen;
    for (Field &f : m_fields) {
        f.name = f.name.toUpper();
        const QByteArray n = cp1251::encode(f.name);
        if (n.isEmpty() || n.size() > 10)
            throw Error(QStringLiteral("Недопустимое имя поля DBF: \"%1\"").arg(f.name));
        if (seen.contains(f.name))
            throw Error(QStringLiteral("Поле DBF \"%1\" задано дважды").arg(f.name));
        seen.append(f.name);
        const bool okType = f.type == 'C' || f.type == 'N';
        const bool okWidth = f.width >= 1 && f.width <= 254;
        const bool okDec = f.type == 'C' ? f.decimals == 0
                                         : f.decimals >= 0 && f.decimals <= 15 && (f.decimals == 0 || f.decimals < f.width - 1);
        if (!okType || !okWidth || !okDec)
            throw Error(QStringLiteral("Недопустимое описание поля DBF \"%1\"").arg(f.name));
    }
    if (recordLength() > 65535)
        throw Error(QStringLiteral("Запись таблицы DBF слишком длинная"));
}

Writer::~Writer() {
    if (m_file && !m_committed) m_file->cancelWriting();
}

int Writer::recordLength() const {
    int n = 1;
    for (const Field &f : m_fields) n += f.width;
    return n;
}

int Writer::headerLength() const { return kHeaderSize + kDescriptorSize * int(m_fields.size()) + 1; }

QByteArray Writer::header() const {
    QByteArray h(headerLength(), '\0');
    const QDate today = QDate::currentDate();
    h[0] = char(0x03);
    h[1] = char(today.year() - 1900);
    h[2] = char(today.month());
    h[3] = char(today.day());
    qToLittleEndian<quint32>(quint32(m_count), h.data() + 4);
    qToLittleEndian<quint16>(quint16(headerLength()), h.data() + 8);
    qToLittleEndian<quint16>(quint16(recordLength()), h.data() + 10);
    h[29] = char(kLanguageCp1251);
    for (int i = 0; i < m_fields.size(); ++i) {
        const Field &f = m_fields[i];
        char *d = h.data() + kHeaderSize + i * kDescriptorSize;
        const QByteArray n = cp1251::encode(f.name);
        memcpy(d, n.constData(), size_t(n.size()));
        d[11] = f.type;
        d[16] = char(quint8(f.width));
        d[17] = char(quint8(f.decimals));
    }
    h[h.size() - 1] = char(0x0D);
    return h;
}

namespace {
// Why a write of the file failed, in Russian (Qt's own text says "Unknown
// error" for a full disk met in a flush).
QString failureReason(const QSaveFile &file) { return cp1251::systemReason(errno); }
} // namespace

void Writer::open() {
    if (QFileInfo(m_path).isDir()) errno = EISDIR;   // Qt refuses a folder before the system says why
    else errno = 0;
    m_file = std::make_unique<QSaveFile>(m_path);
    if (errno == EISDIR || !m_file->open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("Не удалось создать файл %1: %2").arg(m_path, failureReason(*m_file)));
    const QByteArray h = header();
    if (m_file->write(h) != h.size()) {
        const QString why = failureReason(*m_file);
        m_file->cancelWriting();
        throw Error(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, why));
    }
}

void Writer::append(const QVariantList &values) {
    if (!m_file || m_committed) throw Error(QStringLiteral("Таблица DBF %1 не открыта для записи").arg(fileName(m_path)));
    if (values.size() != m_fields.size())
        throw Error(QStringLiteral("Запись таблицы DBF: ожидалось значений %1, передано %2")
                        .arg(m_fields.size()).arg(values.size()));
    QByteArray rec;
    rec.reserve(recordLength());
    rec.append(' ');
    for (int i = 0; i < m_fields.size(); ++i) {
        const Field &f = m_fields[i];
        const QVariant &v = values[i];
        QByteArray text;
        if (!cellText(f, v, text)) {
            if (f.type == 'N' && text.isEmpty())
                throw Error(QStringLiteral("Значение \"%1\" поля %2 не является числом").arg(v.toString(), f.name));
            throw Error(QStringLiteral("Значение \"%1\" не помещается в поле %2 (ширина %3)")
                            .arg(f.type == 'C' ? v.toString() : QString::fromLatin1(text), f.name).arg(f.width));
        }
        const QByteArray fill(f.width - int(text.size()), ' ');
        if (f.type == 'C')
            rec.append(text).append(fill);
        else
            rec.append(fill).append(text);
    }
    errno = 0;
    if (m_file->write(rec) != rec.size()) {
        const QString why = failureReason(*m_file);
        m_file->cancelWriting();   // a table missing a record is never committed
        throw Error(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, why));
    }
    ++m_count;
}

void Writer::commit() {
    if (!m_file || m_committed) throw Error(QStringLiteral("Таблица DBF %1 не открыта для записи").arg(fileName(m_path)));
    const QByteArray h = header();
    errno = 0;
    const bool ok = m_file->putChar(char(0x1A)) && m_file->seek(0) && m_file->write(h) == h.size();
    if (!ok) {
        const QString why = failureReason(*m_file);
        m_file->cancelWriting();
        throw Error(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, why));
    }
    errno = 0;
    if (!m_file->commit())
        throw Error(QStringLiteral("Не удалось сохранить файл %1: %2").arg(m_path, failureReason(*m_file)));
    m_committed = true;
}

int Table::fieldIndex(const QString &name) const {
    for (int i = 0; i < fields.size(); ++i)
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QVariant Table::value(int record, const QString &field) const {
    const int i = fieldIndex(field);
    if (i < 0 || record < 0 || record >= records.size()) return {};
    return records[record][i];
}

Table read(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Не удалось открыть файл %1: %2").arg(path, winutil::fileErrorText(f)));
    const QByteArray all = f.readAll();
    const auto damaged = [&](const QString &why) {
        return Error(QStringLiteral("Файл %1 не является таблицей DBF или повреждён: %2").arg(path, why));
    };
    if (all.size() < kHeaderSize + 1) throw damaged(QStringLiteral("слишком короткий заголовок"));
    const auto *u = reinterpret_cast<const uchar *>(all.constData());
    Table t;
    t.version = u[0];
    t.updated = QDate(1900 + u[1], u[2], u[3]);
    const quint32 count = qFromLittleEndian<quint32>(u + 4);
    t.headerLength = qFromLittleEndian<quint16>(u + 8);
    t.recordLength = qFromLittleEndian<quint16>(u + 10);
    t.language = u[29];
    if (t.headerLength < kHeaderSize + 1 || t.headerLength > all.size())
        throw damaged(QStringLiteral("неверная длина заголовка"));
    int pos = kHeaderSize;
    int width = 1;
    while (pos < t.headerLength && u[pos] != 0x0D) {
        if (pos + kDescriptorSize > t.headerLength) throw damaged(QStringLiteral("неполное описание поля"));
        Field fd;
        const QByteArray raw(all.constData() + pos, 11);
        fd.name = cp1251::decode(raw.left(raw.indexOf('\0') < 0 ? 11 : raw.indexOf('\0')));
        fd.type = char(u[pos + 11]);
        fd.width = u[pos + 16];
        fd.decimals = u[pos + 17];
        width += fd.width;
        t.fields.append(fd);
        pos += kDescriptorSize;
    }
    if (pos >= t.headerLength || t.fields.isEmpty()) throw damaged(QStringLiteral("нет описаний полей"));
    if (width != t.recordLength) throw damaged(QStringLiteral("длина записи не совпадает с полями"));
    const qint64 end = qint64(t.headerLength) + qint64(count) * t.recordLength;
    if (end > all.size()) throw damaged(QStringLiteral("записей меньше, чем указано в заголовке"));
    for (quint32 r = 0; r < count; ++r) {
        const char *rec = all.constData() + t.headerLength + qint64(r) * t.recordLength;
        t.deleted.append(rec[0] == '*');
        QVariantList vals;
        int off = 1;
        for (const Field &fd : t.fields) {
            const QByteArray cell(rec + off, fd.width);
            off += fd.width;
            if (fd.type == 'N' || fd.type == 'F') {
                const QByteArray s = cell.trimmed();
                bool ok = false;
                const double d = s.toDouble(&ok);
                vals.append(ok ? QVariant(d) : QVariant());
            } else {
                QByteArray s = cell;
                while (!s.isEmpty() && (s.endsWith(' ') || s.endsWith('\0'))) s.chop(1);
                vals.append(cp1251::decode(s));
            }
        }
        t.records.append(vals);
    }
    t.endMark = end < all.size() && all[end] == char(0x1A);
    return t;
}

} // namespace dbf
