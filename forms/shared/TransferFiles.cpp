#include "forms/shared/TransferFiles.h"
#include "engine/CellNumbering.h"
#include "platform/Errors.h"

#include "engine/Lookups.h"
#include "engine/ImportPolicy.h"
#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "engine/TableShape.h"
#include "engine/TableValues.h"
#include "platform/Background.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "platform/QuotedFields.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringDecoder>
#include <chrono>
#include <cmath>
#include <optional>
#include <vector>
#include <tuple>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <future>
#include <system_error>
#include <string_view>
#include <unordered_map>

namespace transfer {

namespace {

bool isInteger(const QString &s, int *value = nullptr) {
    bool ok = false;
    const int v = s.toInt(&ok);
    if (ok && value) *value = v;
    return ok;
}

// Longest institution name kept in a file name (Cyrillic takes two bytes of
// the 255 a file name may have; level, year and extension follow).
constexpr int kMaxStemChars = 80;

// What a line's form and tablen name in the catalogue of the open year.
struct Resolved {
    qint64 ident = -1;
    const CachedTable *table = nullptr;   // in the caches of the open year
    QString formName;      // upper case
};

// Looks each distinct form/table pair of a file up once.
class Catalogue {
public:
    explicit Catalogue(FileKind kind) : m_kind(kind) {}
    const Resolved &resolve(const Record &r) {
        // Lines of one table follow each other: most lines ask for the last pair again.
        if (m_last && r.form == m_lastForm && r.tablen == m_lastTablen) return *m_last;
        m_lastForm = r.form;
        m_lastTablen = r.tablen;
        const QString key = r.form + QChar(0x1F) + r.tablen;
        auto it = m_cache.find(key);
        if (it != m_cache.end()) return *(m_last = &it->second);
        Resolved res;
        if (m_kind == FileKind::ById) {
            res.ident = GetTableIdentByFormId(r.form, r.tablen);
            res.formName = GetFormNameById(r.form.toLongLong());
        } else {
            res.ident = GetTableIdent(r.form, r.tablen);
            res.formName = text::upper(r.form);
        }
        if (res.ident >= 0) res.table = shared().Caches.table(res.ident);
        if (res.table && !res.table->is(res.formName, r.tablen)) res.table = nullptr;
        if (!res.table) res.ident = -1;
        return *(m_last = &m_cache.emplace(key, res).first->second);
    }
    // Stored column and row within the table's value cells.
    static bool inRange(const Resolved &res, const Record &r) {
        const TableShape *shape = res.table ? &res.table->shape : nullptr;
        if (!shape) return false;
        const int cols1 = shape->colcount + 1, rows1 = shape->rowcount + 1, fixcols = shape->fixcols, fixrows = shape->fixrows;
        if (cols1 <= 0) return false;
        return cells::storedColumnOfGrid(0, fixcols) <= r.column && r.column <= cols1 &&
               cells::storedRowOfGrid(0, fixrows) <= r.row && r.row <= rows1;
    }

private:
    FileKind m_kind;
    std::unordered_map<QString, Resolved> m_cache;   // node-based: references stay valid
    const Resolved *m_last = nullptr;
    QString m_lastForm, m_lastTablen;
};

// Replacing an institution's values deletes them by institution and year;
// without an index on these columns every load would read the whole table.
void ensureHospitalIndex(const QSqlDatabase &d, ValueTable table) {
    QSqlQuery(QStringLiteral("create index if not exists %1_hospital on %1 (hospital, year)").arg(ValueTableName(table)),
              d);
}

struct Scope {
    QString target;                 // what is loaded, for messages: "формы Ф30", "таблицы Ф30Т(1000)", ...
    ValueTable valueTable = ValueTable::Data;
    qint64 hospital = 0;
    bool clearAll = true;           // every value of the hospital and year
    QList<qint64> clearTables;      // otherwise these tables
    bool carriedOnly = false;       // of them only those the file carries
    std::function<bool(const Record &, const Resolved &)> accept;
    importpolicy::UnknownTargets *otherType = nullptr;   // lines accept() refused for the institution's type
    std::function<void(int, int)> progress;
    Writing writing = Writing::OwnTransaction;
    bool dryRun = false;            // check the file and name what would be emptied; write nothing
    const QStringList *knownEmptied = nullptr;   // what is emptied, found before the load
};

// A load that replaces the given tables of one institution or report.
Scope tablesScope(const QString &target, ValueTable valueTable, qint64 hospital, const QList<qint64> &tables) {
    Scope s;
    s.target = target;
    s.valueTable = valueTable;
    s.hospital = hospital;
    s.clearAll = false;
    s.clearTables = tables;
    s.carriedOnly = true;
    return s;
}

struct Row {
    double value;
    qint64 ident;
    int column;
    int row;
    qsizetype record;   // of the file
};

// Forms of the replaced scope that hold values of the year and get no line
// of the file: the load leaves them empty. In the order of the catalogue;
// values of tables no longer in it are counted as one entry.
QStringList formsLeftEmpty(const QSqlDatabase &d, const Scope &scope, const QList<qint64> &carried) {
    const QString t = ValueTableName(scope.valueTable);
    if (!scope.clearAll && scope.clearTables.isEmpty()) return {};
    const QString inScope =
        scope.clearAll ? QString() : QStringLiteral(" and \"table\" in (%1)").arg(db::inList(scope.clearTables));
    // The table numbers of the institution's values of the year, each once.
    // With the (table, year, hospital) index of the values table, the numbers
    // the whole table holds are stepped through and each looked up for the
    // institution: a few look-ups per table instead of reading every row of
    // the institution.
    QString sql;
    QVariantList params;
    const QVariant key = db::scalar(d,
                                    QStringLiteral("select group_concat(name, ',') from (select i.name from "
                                                   "pragma_index_list(?) l, pragma_index_info(l.name) i "
                                                   "where l.name=? and l.partial=0 order by i.seqno)"),
                                    {t, t + QStringLiteral("_key")});
    if (key.toString() == QLatin1String("table,year,hospital")) {
        sql = QStringLiteral("with recursive held(x) as (select (select min(\"table\") from %1) union all "
                             "select (select min(\"table\") from %1 where \"table\">held.x) from held "
                             "where held.x is not null) "
                             "select x from held where x is not null and exists (select 1 from %1 where "
                             "\"table\"=held.x and year=? and hospital=?)%2")
                  .arg(t, QString(inScope).replace(QLatin1String("\"table\""), QLatin1String("x")));
        params = {shared().Year, scope.hospital};
        if (scope.clearAll) {
            sql += QStringLiteral(" union all select null where exists (select 1 from %1 where \"table\" is null "
                                  "and year=? and hospital=?)")
                       .arg(t);
            params += QVariantList{shared().Year, scope.hospital};
        }
    } else {
        sql = QStringLiteral("select distinct \"table\" from %1 where hospital=? and year=?").arg(t) + inScope;
        params = {scope.hospital, shared().Year};
    }
    const QSet<qint64> given(carried.cbegin(), carried.cend());
    QSet<QString> names;
    int outsideCatalogue = 0;
    for (const QVariant &v : db::column(d, sql, params)) {
        const qint64 ident = v.toLongLong();
        if (ident == -1 || given.contains(ident)) continue;
        if (const CachedTable *table = shared().Caches.table(ident)) names.insert(table->formName);
        else ++outsideCatalogue;
    }
    // A form with a line in the file is replaced, not emptied.
    for (const qint64 ident : carried)
        if (const CachedTable *table = shared().Caches.table(ident)) names.remove(table->formName);
    QStringList out;
    for (const CachedForm &f : shared().Caches.forms)
        if (names.contains(f.name)) out.append(f.name);
    if (outsideCatalogue > 0)
        out.append(QStringLiteral("таблицы, которых нет в перечне форм (%1)").arg(outsideCatalogue));
    return out;
}

// The first record that sets a cell an earlier one of the rows set, or -1.
// A file's lines usually come table by table, each table's cells in order:
// then no cell can come twice and no cell is looked up.
qsizetype repeatedCell(const QList<Row> &rows, qsizetype *earlier) {
    const auto key = [](const Row &r) { return std::make_pair(r.column, r.row); };
    bool inOrder = true;
    QSet<qint64> closed;   // tables whose run of lines has ended
    for (qsizetype i = 1; i < rows.size() && inOrder; ++i) {
        const Row &a = rows[i - 1], &b = rows[i];
        if (a.ident == b.ident) inOrder = key(a) < key(b);
        else inOrder = !closed.contains(b.ident) && (closed.insert(a.ident), true);
    }
    if (inOrder) return -1;
    QHash<QPair<qint64, qint64>, qsizetype> recordOfCell;   // (ident, column:row) -> record
    recordOfCell.reserve(rows.size());
    for (const Row &r : rows) {
        const QPair<qint64, qint64> cell(r.ident, (qint64(r.column) << 32) | quint32(r.row));
        const auto found = recordOfCell.constFind(cell);
        if (found != recordOfCell.constEnd()) {
            *earlier = *found;
            return r.record;
        }
        recordOfCell.insert(cell, r.record);
    }
    return -1;
}

// A file's rows go to the table many to a statement.
constexpr int kRowsPerStatement = 64;

LoadResult runLoad(const QString &path, const ParsedFile &file, const Scope &scope) {
    requireTarget(scope.valueTable, scope.hospital);
    const int year = shared().Year;
    LoadResult result;
    result.lines = int(file.records.size());

    if (!file.records.isEmpty()) {
        bool anyOfYear = false;
        for (const Record &r : file.records)
            if (r.year == year) { anyOfYear = true; break; }
        if (!anyOfYear)
            throw db::Error(QStringLiteral("Файл %1 содержит данные за %2 год, а не за %3 год. "
                                           "Данные не загружены.")
                                .arg(QDir::toNativeSeparators(path)).arg(file.records.first().year).arg(year));
    }

    // Decide every line before anything is changed (engine/ImportPolicy).
    importpolicy::ImportCheck check(path,
                                    QStringLiteral("В файле %1 нет данных %2 за %3 год.")
                                        .arg(QDir::toNativeSeparators(path), scope.target).arg(year),
                                    QStringLiteral("Данные не изменены."));
    Catalogue catalogue(file.kind);
    QList<Row> rows;
    rows.reserve(file.records.size());
    for (qsizetype i = 0; i < file.records.size(); ++i) {
        const Record &r = file.records[i];
        check.line();
        if (r.year != year) { ++result.skipped; continue; }
        const Resolved &res = catalogue.resolve(r);
        if (res.ident < 0) {
            // A form or table this configuration does not know: named in the closing message.
            // Counted there only: not again among the lines outside the scope.
            check.unknown(file.kind == FileKind::ById && !res.formName.isEmpty() ? res.formName : r.form, r.tablen);
            continue;
        }
        if (scope.accept && !scope.accept(r, res)) { ++result.skipped; continue; }
        // Header cells and cells past the table's edge are never stored.
        if (!Catalogue::inRange(res, r)) { ++result.outside; continue; }
        rows.append(Row{r.value, res.ident, r.column, r.row, i});
        check.accepted(res.ident);
    }
    // One cell set twice: which of the two values is meant cannot be told.
    qsizetype earlier = -1;
    if (const qsizetype twice = repeatedCell(rows, &earlier); twice >= 0) {
        const Record &r = file.records[twice];
        throw db::Error(QStringLiteral("Файл %1: строки %2 и %3 задают значение одной и той же ячейки "
                                       "(%4Т%5, графа %6, строка %7). Данные не загружены.")
                            .arg(QDir::toNativeSeparators(path)).arg(file.records[earlier].line).arg(r.line)
                            .arg(catalogue.resolve(r).formName, r.tablen).arg(r.column).arg(r.row));
    }
    check.requireAccepted({loadedMessage(QString(), result.outside).trimmed(),
                           scope.otherType ? otherTypeNote(*scope.otherType) : QString()});
    result.unknown = check.unknownTargets();
    if (scope.otherType) result.otherType = *scope.otherType;

    const QSqlDatabase d = db::connection(db::kData);
    const QString t = ValueTableName(scope.valueTable);
    if (scope.knownEmptied) result.emptiedForms = *scope.knownEmptied;
    else if (!scope.carriedOnly) result.emptiedForms = formsLeftEmpty(d, scope, check.carried());
    if (scope.dryRun) return result;
    ensureHospitalIndex(d, scope.valueTable);

    const auto write = [&] {
        if (scope.clearAll) {
            db::exec(d, QStringLiteral("delete from %1 where hospital=? and year=?").arg(t),
                     {scope.hospital, shared().Year});
        } else {
            // A form or table load empties only the tables the file carries.
            QList<qint64> clear;
            for (const qint64 ident : scope.clearTables)
                if (!scope.carriedOnly || check.carried().contains(ident)) clear.append(ident);
            if (!clear.isEmpty())
                db::exec(d,
                         QStringLiteral("delete from %1 where hospital=? and year=? and \"table\" in (%2)")
                             .arg(t, db::inList(clear)),
                         {scope.hospital, shared().Year});
        }
        ValueRowWriter writer(d, scope.valueTable, scope.hospital, year, kRowsPerStatement);
        const int total = int(rows.size());
        int done = 0;
        for (const Row &row : rows) {
            if (writer.write(row.ident, row.column, row.row, row.value)) ++result.inserted;
            ++done;
            if (scope.progress && (done % 500 == 0 || done == total)) scope.progress(done, total);
        }
        writer.flush();
    };
    if (scope.writing == Writing::OwnTransaction) {
        db::transaction(d, write);
    } else {
        // No savepoint per file: the group's transaction is the unit, and a
        // half-written file takes the whole group back.
        try {
            write();
        } catch (const db::Error &e) {
            throw WriteFailed(QStringLiteral("Не удалось записать значения файла %1: %2\nЗагрузка файлов отменена, "
                                             "данные не изменены.")
                                  .arg(QDir::toNativeSeparators(path), e.message()));
        }
    }
    return result;
}

// "Ф30Т(1000)" of a table of the catalogue, for messages.
QString tableName(qint64 ident) {
    const CachedTable *t = shared().Caches.table(ident);
    if (!t) return QString::number(ident);
    return t->formName + QStringLiteral("Т") + t->tablen;
}

QList<qint64> tablesOfForm(qint64 formId) {
    QList<qint64> out;
    for (const QVariant &v : db::column(db::connection(db::kMain),
                                        QStringLiteral("select ident from tables where form=?"), {formId}))
        out.append(v.toLongLong());
    return out;
}

} // namespace

FileKind kindOfFile(const QString &path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("orv") || ext == QLatin1String("rps")) return FileKind::ById;
    if (ext == QLatin1String("orw") || ext == QLatin1String("rpd")) return FileKind::ByName;
    return FileKind::Unknown;
}

namespace {
// The fields after the value up to the column: ","year","form","tablen"," in
// code page 1251, a quote inside a field doubled as quoted::join writes it.
QByteArray recordMiddle(const QByteArray &year, QByteArray form, QByteArray tablen) {
    form.replace('"', "\"\"");
    tablen.replace('"', "\"\"");
    return QByteArrayLiteral("\",\"") + year + QByteArrayLiteral("\",\"") + form + QByteArrayLiteral("\",\"") +
           tablen + QByteArrayLiteral("\",\"");
}

// A fraction as general() writes it, without a QString: the 15-digit form
// when the shortest exact form has at most 15 digits (no rounding tie can
// fall between the two), else general() itself.
QByteArray generalBytes(double v, char (&buf)[40]) {
    char shortest[40];
    const char *end = std::to_chars(shortest, shortest + sizeof shortest, v).ptr;
    int digits = 0;
    bool leading = true;
    for (const char *p = shortest; p < end && *p != 'e'; ++p) {
        if (*p < '0' || *p > '9' || (leading && *p == '0')) continue;
        leading = false;
        ++digits;
    }
    if (digits > 15 || !std::isfinite(v)) return num::general(v).toLatin1();
    end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15).ptr;
    return QByteArray::fromRawData(buf, end - buf);
}

// Records "data","year","form","tablen","column","row" and CR LF, written
// straight into one buffer: a file of an institution has thousands.
class RecordBuffer {
public:
    explicit RecordBuffer(qsizetype expected) { m_text.resize(std::max<qsizetype>(expected, 64)); }
    void add(std::string_view data, const QByteArray &middle, int column, int row) {
        const qsizetype need = qsizetype(data.size()) + middle.size() + 32;
        if (m_at + need > m_text.size()) m_text.resize(std::max(m_text.size() * 2, m_at + need));
        char *const start = m_text.data() + m_at;
        char *o = start;
        *o++ = '"';
        o = std::copy(data.begin(), data.end(), o);
        o = std::copy(middle.cbegin(), middle.cend(), o);
        o = std::to_chars(o, o + 12, column).ptr;
        o = std::copy_n("\",\"", 3, o);
        o = std::to_chars(o, o + 12, row).ptr;
        o = std::copy_n("\"\r\n", 3, o);
        m_at += o - start;
    }
    QByteArray take() {
        m_text.truncate(m_at);
        return std::move(m_text);
    }

private:
    QByteArray m_text;
    qsizetype m_at = 0;
};

// A value row as an unload reads it.
struct UnloadRow {
    double data;
    qint64 table;
    int column, row;
};

// Sorts rows by one small whole-number field, keeping the order of equal
// ones: one pass to count, one to place.
template <class Field> void sortByField(std::vector<UnloadRow> &rows, std::vector<UnloadRow> &scratch, Field field) {
    if (rows.empty()) return;
    int low = field(rows.front()), high = low;
    for (const UnloadRow &r : rows) {
        low = std::min(low, field(r));
        high = std::max(high, field(r));
    }
    if (qint64(high) - low > (1 << 22)) {   // not cell numbers: compared instead
        std::stable_sort(rows.begin(), rows.end(), [&](const UnloadRow &a, const UnloadRow &b) { return field(a) < field(b); });
        return;
    }
    std::vector<qsizetype> start(std::size_t(high - low) + 2, 0);
    for (const UnloadRow &r : rows) ++start[std::size_t(field(r) - low) + 1];
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    scratch.resize(rows.size());
    for (const UnloadRow &r : rows) scratch[std::size_t(start[std::size_t(field(r) - low)]++)] = r;
    rows.swap(scratch);
}

// The order of a file: by table, column and row, rows of one cell in the
// order they were read. Rows usually lie in order already: then nothing
// moves; else by row, then column (each keeping the order before), then table.
void putInFileOrder(std::vector<UnloadRow> &rows) {
    const auto before = [](const UnloadRow &a, const UnloadRow &b) {
        return std::tie(a.table, a.column, a.row) < std::tie(b.table, b.column, b.row);
    };
    if (std::is_sorted(rows.begin(), rows.end(), before)) return;
    std::vector<UnloadRow> scratch;
    sortByField(rows, scratch, [](const UnloadRow &r) { return r.row; });
    sortByField(rows, scratch, [](const UnloadRow &r) { return r.column; });
    const auto byTable = [](const UnloadRow &a, const UnloadRow &b) { return a.table < b.table; };
    if (!std::is_sorted(rows.begin(), rows.end(), byTable)) std::stable_sort(rows.begin(), rows.end(), byTable);
}
} // namespace

QString formatRecord(const QString &data, const QString &year, const QString &form, const QString &tablen,
                     int column, int row) {
    return quoted::join({data, year, form, tablen, QString::number(column), QString::number(row)});
}

// Splits a line into its fields; form and tablen share the texts of the
// previous record when they are the same (lines of one table follow each other).
static bool parseLine(const QString &line, Record &out, QString *why, const Record *previous) {
    auto fail = [&](const QString &reason) {
        if (why) *why = reason;
        return false;
    };
    QStringList fields;
    if (!quoted::split(line, fields)) return fail(QStringLiteral("поля не заключены в кавычки"));
    if (fields.size() != 6)
        return fail(QStringLiteral("в строке %1 полей вместо шести").arg(fields.size()));
    bool ok = false;
    out.value = fields[0].toDouble(&ok);
    // nan, inf and overflowing values would spoil every sum over the cell.
    if (!ok || !std::isfinite(out.value) || fields[0].trimmed().size() != fields[0].size())
        return fail(QStringLiteral("значение \"%1\" не является конечным числом").arg(text::shownField(fields[0])));
    if (!num::isStorableValue(out.value))
        return fail(QStringLiteral("значение %1 по модулю не меньше 1000000000000000").arg(text::shownField(fields[0])));
    out.year = fields[1].toInt(&ok);
    if (!ok) return fail(QStringLiteral("год \"%1\" не является целым числом").arg(text::shownField(fields[1])));
    if (fields[2].isEmpty()) return fail(QStringLiteral("не указана форма"));
    out.column = fields[4].toInt(&ok);
    if (!ok) return fail(QStringLiteral("графа \"%1\" не является целым числом").arg(text::shownField(fields[4])));
    out.row = fields[5].toInt(&ok);
    if (!ok) return fail(QStringLiteral("строка \"%1\" не является целым числом").arg(text::shownField(fields[5])));
    out.form = previous && fields[2] == previous->form ? previous->form : fields[2];
    out.tablen = previous && fields[3] == previous->tablen ? previous->tablen : fields[3];
    return true;
}

bool parseRecord(const QString &line, Record &out, QString *why) { return parseLine(line, out, why, nullptr); }

namespace {
template <class T> bool wholeNumber(std::string_view s, T &value) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

// The text of a name field: lines of one table repeat the same bytes, decoded once.
struct NameText {
    std::string_view bytes;
    QString text;
    bool decoded = false;
    const QString &of(std::string_view b) {
        if (!decoded || b != bytes) {
            bytes = b;
            text = cp1251::decode(QByteArray(b.data(), qsizetype(b.size())));
            decoded = true;
        }
        return text;
    }
};

// A line as the writers make it, read from its code page 1251 bytes: six
// quoted fields, no quote inside them, plain numbers, a form. False for
// anything else, which then goes the general way (parseLine) with its reasons.
bool parsePlainLine(std::string_view line, Record &out, NameText &form, NameText &tablen) {
    std::string_view f[6];
    if (line.size() < 2 || line.front() != '"' || line.back() != '"') return false;
    std::size_t start = 1;
    for (int k = 0; k < 6; ++k) {
        const std::size_t q = line.find('"', start);
        if (q == std::string_view::npos) return false;
        f[k] = line.substr(start, q - start);
        if (k < 5) {
            if (line.substr(q, 3) != std::string_view("\",\"")) return false;
            start = q + 3;
            continue;
        }
        if (q != line.size() - 1 || f[2].empty()) return false;
    }
    if (!wholeNumber(f[0], out.value) || !num::isStorableValue(out.value) || !wholeNumber(f[1], out.year) ||
        !wholeNumber(f[4], out.column) || !wholeNumber(f[5], out.row))
        return false;
    out.form = form.of(f[2]);
    out.tablen = tablen.of(f[3]);
    return true;
}
} // namespace

ParsedFile readFile(const QString &path) {
    ParsedFile file;
    const QString shown = QDir::toNativeSeparators(path);
    file.kind = kindOfFile(path);
    if (file.kind == FileKind::Unknown)
        throw db::Error(QStringLiteral("Файл %1 не является файлом данных (*.orv, *.orw, *.rps, *.rpd). "
                                       "Данные не загружены.").arg(shown));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw db::Error(QStringLiteral("Не удалось прочитать файл %1: %2").arg(shown, winutil::fileErrorText(f)));
    // Split at CR LF, a lone LF or CR, on the bytes: both are single bytes in code page 1251.
    const QByteArray bytes = f.readAll();
    if (const QString problem = cp1251::encodingProblem(bytes); !problem.isEmpty())
        throw db::Error(QStringLiteral("Файл %1 не загружен: %2 Данные не изменены.").arg(shown, problem));
    const std::string_view all(bytes.constData(), std::size_t(bytes.size()));
    Record r;
    NameText form, tablen;
    QString why, checkedForm;
    std::size_t start = 0;
    for (int number = 1; start < all.size(); ++number) {
        std::size_t end = all.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = all.size();
        const std::string_view bytesOfLine = all.substr(start, end - start);
        start = end + (all.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (!parsePlainLine(bytesOfLine, r, form, tablen)) {
            const QString line = cp1251::decode(QByteArray(bytesOfLine.data(), bytesOfLine.size()));
            if (line.trimmed().isEmpty()) continue;
            if (!parseLine(line, r, &why, file.records.isEmpty() ? nullptr : &file.records.constLast()))
                throw db::Error(QStringLiteral("Файл %1 поврежден: строка %2 (%3). Данные не загружены.")
                                    .arg(shown).arg(number).arg(why));
        }
        r.line = number;
        if (file.kind == FileKind::ById && r.form != checkedForm) {
            if (!isInteger(r.form))
                throw db::Error(QStringLiteral("Файл %1 поврежден: строка %2 (код формы \"%3\" не является целым "
                                               "числом). Данные не загружены.").arg(shown).arg(number).arg(text::shownField(r.form)));
            checkedForm = r.form;
        }
        file.records.append(r);
    }
    return file;
}

struct ReadAhead::Pending {
    qsizetype index;
    std::future<ParsedFile> file;
};

ReadAhead::ReadAhead(const QStringList &paths, int ahead, std::function<void()> whileWaiting)
    : m_paths(paths), m_ahead(std::max(1, ahead)), m_whileWaiting(std::move(whileWaiting)) {}

// Reads still running are let run: each holds only its own path and result,
// and the window does not wait for a file nobody takes (a cancelled group).
ReadAhead::~ReadAhead() = default;

ParsedFile ReadAhead::take(qsizetype i) {
    // Files passed over are dropped, their reads let run.
    while (!m_running.empty() && m_running.front()->index < i) m_running.pop_front();
    if (m_next < i) m_next = i;
    while (m_next < m_paths.size() && m_next <= i + m_ahead) {
        m_running.push_back(std::make_unique<Pending>(
            Pending{m_next, background::run([path = m_paths[m_next]] { return readFile(path); })}));
        ++m_next;
    }
    if (m_running.empty() || m_running.front()->index != i) return readFile(m_paths.value(i));
    const std::unique_ptr<Pending> taken = std::move(m_running.front());
    m_running.pop_front();
    // A read waiting for the disk: the window paints and answers meanwhile.
    while (taken->file.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        if (m_whileWaiting) m_whileWaiting();
    return taken->file.get();
}

// ---- Writers ---------------------------------------------------------------

namespace {

// An institution's file as it is read from the database: its rows in the
// order of the file and, for each run of rows of one table of the catalogue,
// the fields between the value and the column. Its text is made from it
// alone, on any thread.
struct UnloadFile {
    struct Run {
        std::size_t begin, end;
        QByteArray middle;
    };
    std::vector<UnloadRow> rows;
    std::vector<Run> runs;
    WriteResult result;
};

UnloadFile readUnload(const QSqlDatabase &values, ValueTable valueTable, qint64 hospital, int year) {
    UnloadFile file;
    std::vector<UnloadRow> &rows = file.rows;
    // Read as they lie in the table, then put in order here.
    ReadInstitutionValues(values, valueTable, hospital, year,
                            QStringLiteral("data, \"table\", \"column\", \"row\""), 4, [&](const double *f) {
                                rows.push_back({f[0], qint64(f[1]), int(f[2]), int(f[3])});
                            });
    putInFileOrder(rows);
    const QByteArray yearText = QByteArray::number(year);
    for (std::size_t i = 0, end = 0; i < rows.size(); i = end) {
        const qint64 ident = rows[i].table;
        for (end = i + 1; end < rows.size() && rows[end].table == ident;) ++end;
        if (ident == -1) continue;
        const CachedTable *table = shared().Caches.table(ident);
        if (!table) {
            file.result.skippedTables.append(ident);
            file.result.skipped += int(end - i);
            continue;
        }
        file.runs.push_back({i, end, recordMiddle(yearText, cp1251::encode(table->formName),
                                                  cp1251::encode(table->tablen))});
        file.result.written += int(end - i);
    }
    return file;
}

// The file's text in code page 1251, made in one buffer.
QByteArray unloadText(const UnloadFile &file) {
    RecordBuffer records(qsizetype(file.rows.size()) * 40);
    for (const UnloadFile::Run &run : file.runs)
        for (std::size_t i = run.begin; i < run.end; ++i) {
            const UnloadRow &r = file.rows[i];
            char buf[40];
            if (r.data == std::trunc(r.data) && std::fabs(r.data) < 1e15) {   // what general() writes for it
                const auto end = std::to_chars(buf, buf + sizeof buf, qint64(r.data)).ptr;
                records.add(std::string_view(buf, std::size_t(end - buf)), run.middle, r.column, r.row);
            } else {
                const QByteArray text = generalBytes(r.data, buf);
                records.add(std::string_view(text.constData(), std::size_t(text.size())), run.middle, r.column,
                            r.row);
            }
        }
    return records.take();
}

void writeUnload(const QString &path, const UnloadFile &file) {
    QString error;
    if (!cp1251::writeFile(path, unloadText(file), &error))
        throw db::Error(QStringLiteral("Не удалось записать файл %1: %2").arg(QDir::toNativeSeparators(path), error));
}

} // namespace

WriteResult writeValues(const QSqlDatabase &values, ValueTable valueTable, qint64 hospital, int year,
                        const QString &path) {
    const UnloadFile file = readUnload(values, valueTable, hospital, year);
    writeUnload(path, file);
    return file.result;
}

bool hasValuesToWrite(ValueTable valueTable, qint64 id, int year) {
    const QString t = ValueTableName(valueTable);
    for (const QVariant &v : db::column(db::connection(db::kData),
                                        QStringLiteral("select distinct \"table\" from %1 where hospital=? and year=?")
                                            .arg(t),
                                        {id, year}))
        if (v.toLongLong() != -1 && shared().Caches.table(v.toLongLong())) return true;
    return false;
}

QString nothingToWriteMessage(const QString &name, int year) {
    return QStringLiteral("У «%1» нет значений за %2 год: выгружать нечего, файл не записан.")
        .arg(text::shownField(name), QString::number(year));
}

WriteResult SaveHosp(qint64 institutionId, const QString &path) {
    return writeValues(db::connection(db::kData), ValueTable::Data, institutionId, shared().Year, path);
}

WriteResult saveReport(qint64 reportId, const QString &path) {
    return writeValues(db::connection(db::kData), ValueTable::RepData, reportId, shared().Year, path);
}

QString safeFileName(const QString &name) {
    QString s = name;
    static const QString bad = QStringLiteral("/\\:*?\"<>|");
    for (QChar &c : s)
        if (bad.contains(c) || c.unicode() < 32) c = QLatin1Char('_');
    s = s.trimmed();
    if (s.isEmpty() || s == QLatin1String(".") || s == QLatin1String("..")) s = QStringLiteral("_");
    return s;
}

QString loadDialogStart(const QString &folder, const QString &name) {
    paths::makePath(folder);
    const QString dir = paths::withSlash(folder);
    return name.trimmed().isEmpty() ? dir : dir + safeFileName(name);
}

QString unitFileStem(const QString &name) {
    QString s = safeFileName(name);
    s.replace(QLatin1String(" - "), QLatin1String(" _ "));   // the group load cuts the name at " - "
    if (s.size() > kMaxStemChars) s = s.left(kMaxStemChars).trimmed();
    if (s == name) return s;
    // The name cannot stand in a file name as it is: a mark made of the whole
    // name lets the group load find the institution again.
    const QByteArray hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex().left(8);
    return s + QStringLiteral(" ~") + QString::fromLatin1(hash);
}

QString fittedFileName(const QString &base, const QString &extension) {
    QString s = safeFileName(base);
    if ((s + extension).toUtf8().size() <= kMaxUnitFileNameBytes) return s + extension;
    const QString mark = QStringLiteral(" ~") + QString::fromLatin1(QCryptographicHash::hash(
                                                    base.toUtf8(), QCryptographicHash::Sha256).toHex().left(8));
    const qsizetype room = kMaxUnitFileNameBytes - (mark + extension).toUtf8().size();
    while (!s.isEmpty() && s.toUtf8().size() > room) s.chop(s.back().isLowSurrogate() ? 2 : 1);
    return s.trimmed() + mark + extension;
}

QString unitFileNameOfStem(const QString &stem, const QString &levelText, int year) {
    const QString tail = QStringLiteral(" - ") + QString::number(year) + QStringLiteral(".orw");
    QString level = safeFileName(levelText);
    // A file name holds at most 255 bytes, with the suffixes it is written
    // under: the level gives way, the institution's part (at most
    // kMaxStemChars and its marks) never does, so the name stays the unit's.
    const qsizetype room = kMaxUnitFileNameBytes - (stem + QStringLiteral(" - ") + tail).toUtf8().size();
    while (!level.isEmpty() && level.toUtf8().size() > room) level.chop(level.back().isLowSurrogate() ? 2 : 1);
    level = level.trimmed();
    if (level.isEmpty()) level = QStringLiteral("_");
    return stem + QStringLiteral(" - ") + level + tail;
}

QString unitFileName(const QString &nodeText, const QString &levelText, int year) {
    return unitFileNameOfStem(unitFileStem(nodeText), levelText, year);
}

static QString markedUnitStem(const QString &name, qint64 id) {
    return unitFileStem(name) + QStringLiteral(" #") + QString::number(id);
}

QStringList siblingStems(const QList<QPair<QString, qint64>> &siblings) {
    QHash<QString, int> uses;
    QStringList stems;
    for (const auto &s : siblings) {
        stems.append(unitFileStem(s.first));
        ++uses[text::upper(stems.constLast())];
    }
    for (int i = 0; i < stems.size(); ++i)
        if (uses.value(text::upper(stems[i])) > 1) stems[i] = markedUnitStem(siblings[i].first, siblings[i].second);
    return stems;
}

namespace {

QList<QPair<QString, qint64>> namesOf(const QList<UnitNode> &units) {
    QList<QPair<QString, qint64>> out;
    for (const UnitNode &u : units) out.append({u.name, u.id});
    return out;
}

} // namespace

QString unitStemOfNode(const UnitBranch &unit) { return siblingStems(namesOf(unit.siblings)).value(unit.self); }

namespace {

// The files of a group are first written beside their places (name +
// kPendingSuffix); they replace the older files only once every one of them
// is written, so a run stopped by "Отмена" or a failed write leaves the
// folder as it was.
const QString kPendingSuffix = QStringLiteral(".part");

struct PlannedFile {
    QString path;
    const UnitNode *node;
};

// Folders and files of a subtree, nothing written yet.
void planTree(const UnitNode &node, const QString &stem, const QString &folder, const QString &levelText, int year,
              QStringList &folders, QList<PlannedFile> &files) {
    if (!node.children.isEmpty()) {
        const QString sub = paths::withSlash(folder) + stem;
        folders.append(sub);
        const QStringList stems = siblingStems(namesOf(node.children));
        for (int i = 0; i < node.children.size(); ++i)
            planTree(node.children[i], stems[i], sub, levelText, year, folders, files);
        return;
    }
    files.append({paths::withSlash(folder) + unitFileNameOfStem(stem, levelText, year), &node});
}

// Removes the files written beside their places from the given one on; a
// group of a thousand takes a while, and the window paints meanwhile (asked
// at every file: on a busy disk a few removals already last long).
void removePending(const QStringList &pending, qsizetype from, const std::function<void()> &keepPainting) {
    for (qsizetype i = from; i < pending.size(); ++i) {
        if (keepPainting) keepPainting();
        QFile::remove(pending[i] + kPendingSuffix);
    }
}

} // namespace

TreeWriteResult SaveHospTree(const UnitBranch &unit, const QString &folder, const QString &levelText, int year,
                             const std::function<void(const QString &)> &progress,
                             const std::function<void()> &keepPainting) {
    TreeWriteResult out;
    if (unit.self < 0 || unit.self >= unit.siblings.size()) return out;
    QStringList folders;
    QList<PlannedFile> files;
    planTree(unit.node(), unitStemOfNode(unit), folder, levelText, year, folders, files);
    // Every file of the unload gets a path of its own; one path written twice
    // would leave only the last institution's values.
    QHash<QString, const UnitNode *> owner;
    for (const PlannedFile &f : files) {
        const QString key = text::upper(QDir::cleanPath(f.path));
        if (const UnitNode *first = owner.value(key))
            throw db::Error(QStringLiteral("Выгрузка не выполнена: подразделения \"%1\" и \"%2\" получили бы один "
                                           "файл %3.")
                                .arg(text::shownField(first->name), text::shownField(f.node->name),
                                     QDir::toNativeSeparators(f.path)));
        owner.insert(key, f.node);
    }
    if (!paths::makePath(folder))
        throw db::Error(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(folder)));
    for (const QString &sub : folders)
        if (!paths::makePath(sub))
            throw db::Error(QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(sub)));
    QStringList pending;
    QStringList empty;   // final paths of the institutions without values
    // Each file is written on a thread of its own while the next one is read.
    // Its write may wait for the disk: the window paints meanwhile.
    std::future<void> writing;
    const auto written = [&] {
        while (writing.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
            if (keepPainting) keepPainting();
    };
    try {
        for (const PlannedFile &f : files) {
            if (progress) progress(f.node->name);
            pending.append(f.path);
            UnloadFile file = readUnload(db::connection(db::kData), ValueTable::Data, f.node->id, year);
            out.skippedValues += file.result.skipped;
            if (file.result.written == 0) {
                // Nothing to carry: a file would only be refused as empty by the load.
                pending.removeLast();
                QFile::remove(f.path + kPendingSuffix);
                empty.append(f.path);
                out.withoutValues.append(f.node->name);
                continue;
            }
            if (writing.valid()) {
                written();
                writing.get();   // what its write threw
            }
            writing = background::run([file = std::move(file), path = f.path + kPendingSuffix] {
                writeUnload(path, file);
            });
            ++out.files;
        }
        if (writing.valid()) {
            written();
            writing.get();
        }
    } catch (...) {
        if (writing.valid()) written();   // before its file goes
        removePending(pending, 0, keepPainting);
        throw;
    }
    // Every file is written: each takes the place of the older one at once
    // (a rename within its folder).
    for (int i = 0; i < pending.size(); ++i) {
        if (keepPainting) keepPainting();
        std::error_code error;
        std::filesystem::rename(std::filesystem::path(QFile::encodeName(pending[i] + kPendingSuffix).toStdString()),
                                std::filesystem::path(QFile::encodeName(pending[i]).toStdString()), error);
        if (error) {
            removePending(pending, i, keepPainting);
            throw db::Error(QStringLiteral("Не удалось заменить файл %1. Выгружено файлов: %2 из %3; остальные "
                                           "файлы остались прежними.")
                                .arg(QDir::toNativeSeparators(pending[i]))
                                .arg(i)
                                .arg(pending.size()));
        }
        out.writtenFiles.append(pending[i]);
    }
    // An older file of an institution that has no values now would load
    // values it no longer has.
    for (const QString &f : std::as_const(empty))
        if (QFileInfo(f).isFile() && QFile::remove(f)) ++out.removedOlder;
    return out;
}

QString withoutValuesNote(const TreeWriteResult &r) {
    if (r.withoutValues.isEmpty()) return QString();
    const int shown = 10;
    QStringList names = r.withoutValues.mid(0, shown);
    for (QString &n : names) n = text::shownField(n);
    QString note = QStringLiteral("\nУчреждений без значений за год (файлы для них не записаны): %1 — %2")
                       .arg(r.withoutValues.size())
                       .arg(names.join(QStringLiteral(", ")));
    if (r.withoutValues.size() > shown) note += QStringLiteral(" и еще %1").arg(r.withoutValues.size() - shown);
    note += QLatin1Char('.');
    if (r.removedOlder > 0)
        note += QStringLiteral("\nПрежних файлов этих учреждений удалено: %1.").arg(r.removedOlder);
    return note;
}

// ---- Readers ---------------------------------------------------------------

void requireTarget(ValueTable valueTable, qint64 id) {
    const bool report = valueTable == ValueTable::RepData;
    const bool known =
        id > 0 && db::scalar(db::connection(db::kMain),
                             report ? QStringLiteral("select count(*) from reports where id=?")
                                    : QStringLiteral("select count(*) from administration where id=?"),
                             {id})
                          .toLongLong() > 0;
    if (!known)
        throw db::Error(report ? QStringLiteral("Сводный отчет не выбран (код %1). Данные не изменены.").arg(id)
                               : QStringLiteral("Учреждение не выбрано: значения загружаются только в учреждение "
                                                "административной структуры (код %1). Данные не изменены.")
                                     .arg(id));
}

QString loadedMessage(const QString &done, int outside) {
    if (outside <= 0) return done;
    return done + QStringLiteral("\nСтрок с ячейками вне таблиц (заголовки, лишние графы и строки) пропущено: %1.")
                      .arg(outside);
}

QString otherTypeNote(const importpolicy::UnknownTargets &lines) {
    return lines.note(QStringLiteral("Строки форм, которых нет у типа учреждения, пропущены"));
}

QString loadedMessage(const QString &done, const LoadResult &r) {
    return importpolicy::withNotes(loadedMessage(done, r.outside), {r.unknown.note(), otherTypeNote(r.otherType)});
}

QString unitNameOfFile(const QString &path) {
    QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && dot >= name.size() - 4) name = name.left(dot);
    const int dash = name.indexOf(QLatin1String(" - "));
    if (dash >= 0) name = name.left(dash);
    return name;
}

UnitNames::UnitNames() {
    QSqlQuery q = db::exec(db::connection(db::kMain),
                           QStringLiteral("select id, unit, dependence from administration order by id"));
    QHash<qint64, QList<QPair<QString, qint64>>> children;
    while (q.next()) {
        Unit u;
        u.id = q.value(0).toLongLong();
        u.raw = q.value(1).toString();
        u.name = u.raw.trimmed();   // as the territory tree shows it
        u.parent = q.value(2).toLongLong();
        children[u.parent].append({u.name, u.id});
        m_units.insert(u.id, u);
    }
    // The keys a file or folder name of a unit can start with: its name, its
    // stem and, for names its siblings share, the stem with its mark.
    for (auto it = children.cbegin(); it != children.cend(); ++it) {
        const QStringList stems = siblingStems(it.value());
        for (int i = 0; i < stems.size(); ++i) {
            Unit &u = m_units[it.value()[i].second];
            for (const QString &key : {u.name, unitFileStem(u.name), stems[i], u.raw, unitFileStem(u.raw)}) {
                const QString k = text::upper(key);
                if (k.isEmpty() || u.keys.contains(k)) continue;
                u.keys.append(k);
                m_keys.append({k, u.id});
            }
        }
    }
    std::sort(m_keys.begin(), m_keys.end(), [](const Key &a, const Key &b) { return a.id < b.id; });
    for (qsizetype i = 0; i < m_keys.size(); ++i) m_keysByFirst[m_keys[i].upper.front()].append(i);
}

namespace {
bool beginsName(const QString &upperBase, const QString &key) {
    return upperBase == key || (upperBase.startsWith(key) && QStringView(upperBase).mid(key.size()).startsWith(u" - "));
}
} // namespace

UnitNames::Match UnitNames::match(const QString &path) const {
    // The file name is the unit's name (or its stem), " - ", level and year.
    // The longest name that begins the file name is the unit: a name that
    // holds " - " itself ("ЦРБ - филиал") is not taken for a shorter one ("ЦРБ").
    QString base = QFileInfo(path).fileName();
    const int dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && dot >= base.size() - 4) base = base.left(dot);
    const QString upperBase = text::upper(base);
    QList<qint64> best;
    qsizetype bestLength = 0;
    // Only keys of the name's first letter can begin it (in the order of the units' ids).
    for (const qsizetype at : m_keysByFirst.value(upperBase.isEmpty() ? QChar() : upperBase.front())) {
        const Key &key = m_keys[at];
        const QString &k = key.upper;
        if (k.size() < bestLength || !beginsName(upperBase, k)) continue;
        if (k.size() > bestLength) best.clear();
        bestLength = k.size();
        if (!best.contains(key.id)) best.append(key.id);
    }
    Match m;
    if (!best.isEmpty()) {
        // " - level - year" after the unit: the level is what stands before the year.
        QStringList parts = base.mid(bestLength).split(QStringLiteral(" - "));
        if (!parts.isEmpty() && parts.first().isEmpty()) parts.removeFirst();
        bool isYear = false;
        if (!parts.isEmpty() && parts.constLast().size() == 4) parts.constLast().toInt(&isYear);
        if (isYear) parts.removeLast();
        m.level = parts.join(QStringLiteral(" - ")).trimmed();
    }
    if (best.size() == 1) m.id = best.first();
    if (best.size() <= 1) return m;
    // Units of one name: the folders the unload wrote the file in (the
    // district chain) tell them apart.
    QStringList folders = QDir::fromNativeSeparators(QFileInfo(path).absolutePath()).split(QLatin1Char('/'),
                                                                                            Qt::SkipEmptyParts);
    std::reverse(folders.begin(), folders.end());
    int bestDepth = 0;
    QList<qint64> deepest;
    for (const qint64 id : best) {
        int depth = 0;
        for (qint64 p = m_units.value(id).parent; depth < folders.size() && m_units.contains(p);
             p = m_units.value(p).parent) {
            if (!m_units.value(p).keys.contains(text::upper(folders[depth]))) break;
            ++depth;
        }
        if (depth > bestDepth) deepest.clear(), bestDepth = depth;
        if (depth == bestDepth) deepest.append(id);
    }
    if (bestDepth > 0 && deepest.size() == 1) {
        m.id = deepest.first();
        return m;
    }
    m.id = -2;
    m.candidates = bestDepth > 0 ? deepest : best;
    return m;
}

qint64 UnitNames::idOfFile(const QString &path) const { return match(path).id; }

QString otherUnitQuestion(const UnitNames &units, qint64 target, const QString &path) {
    const UnitNames::Match m = units.match(path);
    QStringList named;
    if (m.id >= 0 && m.id != target) named.append(units.pathOf(m.id));
    if (m.id == -2 && !m.candidates.contains(target))
        for (const qint64 id : m.candidates) named.append(units.pathOf(id));
    if (named.isEmpty()) return QString();
    return QStringLiteral("Имя файла %1 указывает на другое учреждение (%2), а данные будут загружены в «%3».\n"
                          "Загрузить файл в «%3»?")
        .arg(text::shownField(QFileInfo(path).fileName()), text::shownField(named.join(QStringLiteral("; "))),
             text::shownField(units.pathOf(target)));
}

QString levelQuestion(const UnitNames &units, const QStringList &files, const QString &openLevel) {
    const QString open = text::upper(safeFileName(openLevel));
    QStringList other;
    for (const QString &f : files) {
        const UnitNames::Match m = units.match(f);
        if (m.id == -1 || m.level.isEmpty()) continue;
        const QString level = text::upper(m.level);
        if (level == open) continue;
        // A name cut to fit 255 bytes keeps the start of the level.
        if (QFileInfo(f).fileName().toUtf8().size() >= kMaxUnitFileNameBytes - 12 && open.startsWith(level)) continue;
        other.append(QStringLiteral("%1 (%2)").arg(text::shownField(QFileInfo(f).fileName()), text::shownField(m.level)));
    }
    if (other.isEmpty()) return QString();
    const int shown = 5;
    QString list = QStringList(other.mid(0, shown)).join(QLatin1Char('\n'));
    if (other.size() > shown) list += QStringLiteral("\n… и еще %1").arg(other.size() - shown);
    return QStringLiteral("Уровень в имени файлов не совпадает с открытым уровнем «%1»:\n%2\nЗагрузить эти файлы?")
        .arg(text::shownField(openLevel), list);
}

QString UnitNames::pathOf(qint64 id) const {
    QStringList chain;
    for (qint64 p = id; m_units.contains(p) && chain.size() < 64; p = m_units.value(p).parent)
        chain.prepend(m_units.value(p).name);
    return chain.join(QStringLiteral(" / "));
}

qint64 FindUnitIdByFileName(const QString &path) { return UnitNames().idOfFile(path); }

// Names (capitals) of the forms an institution's type has, network forms
// included (they are every unit's); nothing when the unit has no type.
static std::optional<QSet<QString>> formsOfType(qint64 hospital) {
    const QVariant type = db::scalar(db::connection(db::kMain),
                                     QStringLiteral("select medicaltype from administration where id=?"), {hospital});
    if (!type.isValid() || type.isNull() || type.toLongLong() <= 0) return std::nullopt;
    QSet<QString> names;
    for (const QVariant &v : db::column(db::connection(db::kMain),
                                        QStringLiteral("select formsId from med_type_forms where medicalsId=?"),
                                        {type.toLongLong()}))
        if (const CachedForm *f = shared().Caches.form(v.toLongLong())) names.insert(f->name);
    for (const CachedForm &f : shared().Caches.forms)
        if (f.net) names.insert(f.name);
    return names;
}

LoadResult loadForm(qint64 hospital, const QString &path, ValueTable valueTable, qint64 formId,
                    const QString &formName) {
    const ParsedFile file = readFile(path);
    Scope s = tablesScope(QStringLiteral("формы ") + formName, valueTable, hospital, tablesOfForm(formId));
    const FileKind kind = file.kind;
    s.accept = [&](const Record &r, const Resolved &) {
        if (kind == FileKind::ById) return r.form.toLongLong() == formId;
        return text::sameName(r.form, formName);
    };
    return runLoad(path, file, s);
}

LoadResult LoadTableFromFile(qint64 hospital, const QString &path, qint64 tableIdent, Writing writing) {
    return LoadTableFromFile(hospital, path, readFile(path), tableIdent, writing);
}

LoadResult LoadTableFromFile(qint64 hospital, const QString &path, const ParsedFile &file, qint64 tableIdent,
                             Writing writing) {
    Scope s = tablesScope(QStringLiteral("таблицы ") + tableName(tableIdent), ValueTable::Data, hospital,
                          {tableIdent});
    s.writing = writing;
    // The files of a group belong to institutions of any type.
    const std::optional<QSet<QString>> ofType = formsOfType(hospital);
    importpolicy::UnknownTargets otherType;
    s.otherType = &otherType;
    s.accept = [&](const Record &r, const Resolved &res) {
        if (res.ident != tableIdent) return false;
        if (ofType && !ofType->contains(res.formName)) {
            otherType.add(res.formName, r.tablen);
            return false;
        }
        return true;
    };
    return runLoad(path, file, s);
}

LoadResult loadTable(qint64 hospital, const QString &path, ValueTable valueTable, qint64 formId,
                     const QString &formName, qint64 tableIdent, const QString &tableNumber) {
    const ParsedFile file = readFile(path);
    Scope s = tablesScope(QStringLiteral("таблицы %1Т%2").arg(formName, tableNumber), valueTable, hospital,
                          {tableIdent});
    const FileKind kind = file.kind;
    s.accept = [&](const Record &r, const Resolved &res) {
        if (!text::sameName(r.tablen, tableNumber) || res.ident != tableIdent) return false;
        return kind == FileKind::ById ? r.form.toLongLong() == formId : text::sameName(r.form, formName);
    };
    return runLoad(path, file, s);
}

namespace {
LoadResult unitLoad(qint64 hospital, const QString &path, const ParsedFile &file, const QString &groupLoadForms,
                    bool clearChosenOnly, const std::function<void(int, int)> &lineProgress, Writing writing,
                    bool dryRun, const QStringList *knownEmptied = nullptr) {
    const QStringList chosen = SplitFormNameList(groupLoadForms);
    Scope s;
    s.target = chosen.isEmpty() ? QStringLiteral("форм учреждения")
                                : QStringLiteral("выбранных форм (%1)").arg(chosen.join(QStringLiteral(", ")));
    s.valueTable = ValueTable::Data;
    s.hospital = hospital;
    s.progress = lineProgress;
    s.writing = writing;
    s.dryRun = dryRun;
    s.knownEmptied = knownEmptied;
    if (clearChosenOnly && !chosen.isEmpty()) {
        s.clearAll = false;
        // The catalogue's names are in capitals as the chosen ones (SQLite's
        // upper() would leave Cyrillic letters as they are).
        for (const CachedTable &t : shared().Caches.tables)
            if (chosen.contains(t.formName)) s.clearTables.append(t.shape.ident);
    }
    // Forms the institution's type does not have would be stored where no
    // forms tree shows them: skipped and counted.
    const std::optional<QSet<QString>> ofType = formsOfType(hospital);
    importpolicy::UnknownTargets otherType;
    s.otherType = &otherType;
    // Decided once per table: a file's lines come table by table.
    const Resolved *lastTable = nullptr;
    enum class Decision { Take, NotChosen, OtherType } last = Decision::Take;
    s.accept = [&](const Record &r, const Resolved &res) {
        if (&res != lastTable) {
            lastTable = &res;
            last = !chosen.isEmpty() && !chosen.contains(text::upper(res.formName)) ? Decision::NotChosen
                   : ofType && !ofType->contains(res.formName)                      ? Decision::OtherType
                                                                                     : Decision::Take;
        }
        if (last == Decision::OtherType) otherType.add(res.formName, r.tablen);
        return last == Decision::Take;
    };
    return runLoad(path, file, s);
}

LoadResult reportLoad(qint64 reportId, const QString &path, bool dryRun) {
    const ParsedFile file = readFile(path);
    Scope s;
    s.target = QStringLiteral("сводного отчета");
    s.valueTable = ValueTable::RepData;
    s.hospital = reportId;
    s.clearAll = true;
    s.dryRun = dryRun;
    return runLoad(path, file, s);
}
} // namespace

LoadResult LoadUnitInfo(qint64 hospital, const QString &path, const QString &groupLoadForms, bool clearChosenOnly,
                        const std::function<void(int, int)> &lineProgress, Writing writing) {
    return unitLoad(hospital, path, readFile(path), groupLoadForms, clearChosenOnly, lineProgress, writing, false);
}

LoadResult LoadUnitInfo(qint64 hospital, const QString &path, const ParsedFile &file, const QString &groupLoadForms,
                        bool clearChosenOnly, const std::function<void(int, int)> &lineProgress, Writing writing,
                        const QStringList *knownEmptied) {
    return unitLoad(hospital, path, file, groupLoadForms, clearChosenOnly, lineProgress, writing, false, knownEmptied);
}

QStringList formsEmptiedByUnitLoad(qint64 hospital, const QString &path, const QString &groupLoadForms,
                                   bool clearChosenOnly) {
    return formsEmptiedByUnitLoad(hospital, path, readFile(path), groupLoadForms, clearChosenOnly);
}

QStringList formsEmptiedByUnitLoad(qint64 hospital, const QString &path, const ParsedFile &file,
                                   const QString &groupLoadForms, bool clearChosenOnly) {
    return unitLoad(hospital, path, file, groupLoadForms, clearChosenOnly, {}, Writing::OwnTransaction, true)
        .emptiedForms;
}

LoadResult loadReport(qint64 reportId, const QString &path) { return reportLoad(reportId, path, false); }

QStringList formsEmptiedByReportLoad(qint64 reportId, const QString &path) {
    return reportLoad(reportId, path, true).emptiedForms;
}

// "Учреждение: Ф12, Ф30" lines, the first ten and a count of the rest.
static QString emptiedList(const QList<Emptied> &emptied) {
    QStringList lines;
    for (const Emptied &e : emptied)
        if (!e.forms.isEmpty())
            lines.append(QStringLiteral("%1: %2").arg(text::shownField(e.target), e.forms.join(QStringLiteral(", "))));
    const int shown = 10;
    QString list = QStringList(lines.mid(0, shown)).join(QLatin1Char('\n'));
    if (lines.size() > shown) list += QStringLiteral("\n… и еще %1").arg(lines.size() - shown);
    return list;
}

QString emptiedFormsQuestion(const QList<Emptied> &emptied, int year) {
    const QString list = emptiedList(emptied);
    if (list.isEmpty()) return QString();
    return QStringLiteral("Загрузка заменяет все данные за %1 год. В загружаемых данных нет строк форм, которые "
                          "сейчас заполнены, и эти формы будут очищены:\n%2\nЗагрузить?")
        .arg(year)
        .arg(list);
}

QString emptiedFormsNote(const QList<Emptied> &emptied) {
    const QString list = emptiedList(emptied);
    if (list.isEmpty()) return QString();
    return QStringLiteral("Очищены формы, строк которых не было в загруженных данных:\n") + list;
}

} // namespace transfer
