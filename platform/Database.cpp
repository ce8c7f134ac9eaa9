#include "platform/Database.h"
#include "platform/NameOrder.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>

#include <map>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace db {
namespace {

QString fromUtf8(const unsigned char *s, int n) {
    return QString::fromUtf8(reinterpret_cast<const char *>(s), n);
}

void sqlUpper(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
    if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    const QByteArray out = fromUtf8(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0])).toUpper().toUtf8();
    sqlite3_result_text(ctx, out.constData(), int(out.size()), SQLITE_TRANSIENT);
}

void sqlLower(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
    if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    const QByteArray out = fromUtf8(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0])).toLower().toUtf8();
    sqlite3_result_text(ctx, out.constData(), int(out.size()), SQLITE_TRANSIENT);
}

// LIKE with % and _ wildcards, an optional escape character, and Unicode case folding.
bool likeMatch(const QString &pat, qsizetype pi, const QString &str, qsizetype si, QChar esc) {
    while (pi < pat.size()) {
        QChar p = pat[pi];
        if (!esc.isNull() && p == esc && pi + 1 < pat.size()) {
            if (si >= str.size() || pat[pi + 1].toCaseFolded() != str[si].toCaseFolded()) return false;
            pi += 2; ++si; continue;
        }
        if (p == u'%') {
            while (pi < pat.size() && pat[pi] == u'%') ++pi;
            if (pi == pat.size()) return true;
            for (qsizetype k = si; k <= str.size(); ++k)
                if (likeMatch(pat, pi, str, k, esc)) return true;
            return false;
        }
        if (si >= str.size()) return false;
        if (p != u'_' && p.toCaseFolded() != str[si].toCaseFolded()) return false;
        ++pi; ++si;
    }
    return si == str.size();
}

void sqlLike(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx); return;
    }
    const QString pat = fromUtf8(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]));
    const QString str = fromUtf8(sqlite3_value_text(argv[1]), sqlite3_value_bytes(argv[1]));
    QChar esc;
    if (argc == 3 && sqlite3_value_type(argv[2]) != SQLITE_NULL) {
        const QString e = fromUtf8(sqlite3_value_text(argv[2]), sqlite3_value_bytes(argv[2]));
        if (e.size() != 1) { sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1); return; }
        esc = e[0];
    }
    sqlite3_result_int(ctx, likeMatch(pat, 0, str, 0, esc) ? 1 : 0);
}

int collateNoCase(void *, int n1, const void *s1, int n2, const void *s2) {
    const QString a = QString::fromUtf8(static_cast<const char *>(s1), n1);
    const QString b = QString::fromUtf8(static_cast<const char *>(s2), n2);
    return a.compare(b, Qt::CaseInsensitive);
}

// The order of names of the lists (text::compareNames).
int collateNames(void *, int n1, const void *s1, int n2, const void *s2) {
    return text::compareNames(QString::fromUtf8(static_cast<const char *>(s1), n1),
                              QString::fromUtf8(static_cast<const char *>(s2), n2));
}

sqlite3 *handleOf(const QSqlDatabase &d) {
    const QVariant v = d.driver()->handle();
    if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
        return *static_cast<sqlite3 *const *>(v.data());
    return nullptr;
}

// What the statement was doing: reading, writing, changing or deleting the
// data of a table.
QString actionText(const QString &sql) {
    static const QRegularExpression verbRe(QStringLiteral("^\\s*(\\w+)"));
    const QString verb = verbRe.match(sql).captured(1).toLower();
    auto table = [&](const QString &after) {
        const QRegularExpression re(after + QStringLiteral("\\s+\"?([\\w]+)"),
                                    QRegularExpression::CaseInsensitiveOption);
        return re.match(sql).captured(1);
    };
    QString t;
    if (verb == QLatin1String("select") && !(t = table(QStringLiteral("from"))).isEmpty())
        return QStringLiteral("прочитать данные таблицы ") + t;
    if ((verb == QLatin1String("insert") || verb == QLatin1String("replace")) &&
        !(t = table(QStringLiteral("into"))).isEmpty())
        return QStringLiteral("записать данные в таблицу ") + t;
    if (verb == QLatin1String("update") && !(t = table(QStringLiteral("update"))).isEmpty())
        return QStringLiteral("изменить данные таблицы ") + t;
    if (verb == QLatin1String("delete") && !(t = table(QStringLiteral("from"))).isEmpty())
        return QStringLiteral("удалить данные из таблицы ") + t;
    if (verb == QLatin1String("create") || verb == QLatin1String("alter") || verb == QLatin1String("drop"))
        return QStringLiteral("изменить структуру базы данных");
    return QStringLiteral("выполнить операцию с базой данных");
}


} // namespace

Error statementFailure(const QSqlDatabase &d, const QString &sql, const QSqlError &e) {
    const QString why = errorReason(d, e);
    return Error(QStringLiteral("Не удалось %1 (%2): %3.").arg(actionText(sql), QFileInfo(d.databaseName()).fileName(), why),
                 why);
}

namespace {

Error statementError(const QSqlDatabase &d, const QString &sql, const QSqlError &e) {
    return statementFailure(d, sql, e);
}

QString openErrorText(const QString &file, const QString &why) {
    return QStringLiteral("Не удалось открыть базу данных %1: %2").arg(file, why);
}

} // namespace

namespace {
// SQLite's result code from the driver's English text, where the driver
// passes no code (its transaction errors); -1 when the text tells nothing.
int codeFromText(const QString &text) {
    const QString t = text.toLower();
    if (t.contains(QLatin1String("database is locked")) || t.contains(QLatin1String("busy"))) return SQLITE_BUSY;
    if (t.contains(QLatin1String("table is locked"))) return SQLITE_LOCKED;
    if (t.contains(QLatin1String("disk is full")) || t.contains(QLatin1String("database or disk is full")))
        return SQLITE_FULL;
    if (t.contains(QLatin1String("readonly")) || t.contains(QLatin1String("read-only"))) return SQLITE_READONLY;
    if (t.contains(QLatin1String("malformed"))) return SQLITE_CORRUPT;
    if (t.contains(QLatin1String("not a database"))) return SQLITE_NOTADB;
    if (t.contains(QLatin1String("disk i/o error"))) return SQLITE_IOERR;
    if (t.contains(QLatin1String("unable to open"))) return SQLITE_CANTOPEN;
    if (t.contains(QLatin1String("interrupted"))) return SQLITE_INTERRUPT;
    return -1;
}
} // namespace

// The one translation of database failures: what went wrong, in Russian,
// and what to do about it, from SQLite's result code (neither the driver's
// English text nor the statement reaches the user).
QString failureReason(int sqliteCode, const QString &driverText) {
    const int code = sqliteCode < 0 ? codeFromText(driverText) : (sqliteCode & 0xFF);
    switch (code) {
    case SQLITE_FULL:
        return QStringLiteral("на диске нет места (или файл достиг предельного размера). Освободите место на диске "
                              "и повторите операцию");
    case SQLITE_BUSY:
        return QStringLiteral("база данных занята другой программой или другим пользователем. Дождитесь окончания "
                              "их работы (или закройте другие копии программы) и повторите операцию");
    case SQLITE_LOCKED:
        return QStringLiteral("таблица заблокирована другой операцией. Дождитесь ее окончания и повторите операцию");
    case SQLITE_READONLY:
        return QStringLiteral("база данных открыта только для чтения или файл защищен от записи. Снимите защиту "
                              "от записи с файла и его папки и повторите операцию");
    case SQLITE_IOERR:
        return QStringLiteral("ошибка чтения или записи файла на диске. Проверьте диск (или сетевое подключение) "
                              "и повторите операцию");
    case SQLITE_CORRUPT:
        return QStringLiteral("файл базы данных поврежден. Восстановите его из резервной копии");
    case SQLITE_NOTADB:
        return QStringLiteral("файл не является базой данных (или поврежден). Восстановите его из резервной копии");
    case SQLITE_CANTOPEN:
        return QStringLiteral("файл базы данных не удается открыть. Проверьте, что файл и его папка существуют "
                              "и доступны");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("нет прав доступа к базе данных. Получите права на файл и его папку у администратора");
    case SQLITE_NOMEM: return QStringLiteral("недостаточно памяти. Закройте другие программы и повторите операцию");
    case SQLITE_INTERRUPT: return QStringLiteral("операция прервана");
    case SQLITE_TOOBIG: return QStringLiteral("значение слишком велико");
    case SQLITE_MISMATCH: return QStringLiteral("значение не того типа");
    case SQLITE_CONSTRAINT: return QStringLiteral("такая запись уже есть или значение недопустимо");
    case SQLITE_ERROR:
        if (driverText.startsWith(QLatin1String("no such table: ")))
            return QStringLiteral("в базе данных нет таблицы ") + driverText.mid(15);
        if (driverText.startsWith(QLatin1String("no such column: ")))
            return QStringLiteral("в таблице нет поля ") + driverText.mid(16);
        return QStringLiteral("структура базы данных не соответствует программе");
    case -1: return QStringLiteral("ошибка базы данных");
    default: return QStringLiteral("ошибка базы данных (код %1)").arg(code);
    }
}

QString errorReason(const QSqlError &e) {
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    return failureReason(ok ? code : -1, e.databaseText());
}

QString errorReason(const QSqlDatabase &d, const QSqlError &e) {
    bool ok = false;
    int code = e.nativeErrorCode().toInt(&ok);
    if (!ok) code = codeFromText(e.databaseText());
    // The driver passes no code with some failures (a commit): the
    // connection still knows it.
    if (code < 0)
        if (sqlite3 *h = handleOf(d); h && sqlite3_errcode(h) != SQLITE_OK) code = sqlite3_extended_errcode(h);
    return failureReason(code, e.databaseText());
}

void registerUnicode(const QSqlDatabase &d) {
    sqlite3 *h = handleOf(d);
    if (!h) return;
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(h, "upper", 1, flags, nullptr, sqlUpper, nullptr, nullptr);
    sqlite3_create_function(h, "lower", 1, flags, nullptr, sqlLower, nullptr, nullptr);
    sqlite3_create_function(h, "like", 2, flags, nullptr, sqlLike, nullptr, nullptr);
    sqlite3_create_function(h, "like", 3, flags, nullptr, sqlLike, nullptr, nullptr);
    sqlite3_create_collation(h, "UNOCASE", SQLITE_UTF8, nullptr, collateNoCase);
    sqlite3_create_collation(h, "NAMES", SQLITE_UTF8, nullptr, collateNames);
}

namespace {
int pollStatement(void *poll) { return static_cast<StatementPoll *>(poll)->keepStepping() ? 0 : 1; }

// A failure of the statements run straight through the sqlite3 API, told
// as every other one.
Error sqliteError(sqlite3 *h, const QString &sql) {
    const char *file = sqlite3_db_filename(h, "main");
    return Error(QStringLiteral("Не удалось %1 (%2): %3.")
                     .arg(actionText(sql), QFileInfo(QString::fromUtf8(file ? file : "")).fileName(),
                          failureReason(sqlite3_extended_errcode(h), QString::fromUtf8(sqlite3_errmsg(h)))));
}

Error statementError(sqlite3 *h, sqlite3_stmt *st) {
    const char *sql = sqlite3_sql(st);
    return sqliteError(h, QString::fromUtf8(sql ? sql : ""));
}

sqlite3 *checkedHandle(const QSqlDatabase &d) {
    sqlite3 *h = handleOf(d);
    if (!h) throw Error(QStringLiteral("Соединение с базой данных не открыто"));
    return h;
}
} // namespace

namespace {

// A statement prepared and bound, finalized when it goes.
struct Prepared {
    sqlite3 *h = nullptr;
    sqlite3_stmt *st = nullptr;
    Prepared(const QSqlDatabase &d, const QString &sql, const QVariantList &params) : h(checkedHandle(d)) {
        if (sqlite3_prepare_v2(h, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK) throw sqliteError(h, sql);
        for (int i = 0; i < params.size(); ++i) {
            const QVariant &p = params[i];
            int rc;
            if (p.typeId() == QMetaType::Double) rc = sqlite3_bind_double(st, i + 1, p.toDouble());
            else if (p.typeId() == QMetaType::QString) {
                const QByteArray u = p.toString().toUtf8();
                rc = sqlite3_bind_text(st, i + 1, u.constData(), int(u.size()), SQLITE_TRANSIENT);
            } else rc = sqlite3_bind_int64(st, i + 1, p.toLongLong());
            if (rc != SQLITE_OK) {
                sqlite3_finalize(st);
                throw sqliteError(h, sql);
            }
        }
    }
    ~Prepared() { sqlite3_finalize(st); }
    Prepared(const Prepared &) = delete;
    Prepared &operator=(const Prepared &) = delete;
};

} // namespace

QString ReadRow::text(int column) const {
    auto *st = static_cast<sqlite3_stmt *>(m_statement);
    if (sqlite3_column_type(st, column) == SQLITE_NULL) return QString();
    // An empty text is an empty string, not a null one. The stored UTF-8 is
    // decoded here: sqlite's own UTF-16 copy of every field costs more than
    // the decoding.
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(st, column));
    const int bytes = sqlite3_column_bytes(st, column);
    return text ? QString::fromUtf8(text, bytes) : QStringLiteral("");
}

qint64 ReadRow::integer(int column) const {
    return sqlite3_column_int64(static_cast<sqlite3_stmt *>(m_statement), column);
}

void readRows(const QSqlDatabase &d, const QString &sql, const QVariantList &params,
              const std::function<void(const ReadRow &)> &row) {
    Prepared p(d, sql, params);
    const ReadRow current(p.st);
    int rc;
    while ((rc = sqlite3_step(p.st)) == SQLITE_ROW) row(current);
    if (rc != SQLITE_DONE) throw sqliteError(p.h, sql);
}

void readNumbers(const QSqlDatabase &d, const QString &sql, const QVariantList &params, int columns,
                 const std::function<void(const double *)> &row) {
    Prepared p(d, sql, params);
    std::vector<double> fields(std::max(columns, 1));
    int rc;
    while ((rc = sqlite3_step(p.st)) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) fields[c] = sqlite3_column_double(p.st, c);
        row(fields.data());
    }
    if (rc != SQLITE_DONE) throw sqliteError(p.h, sql);
}

TableName TableName::checked(const QString &name) {
    const QStringList parts = name.split(u'.');
    QString sql;
    for (const QString &part : parts) {
        bool plain = !part.isEmpty() && !(part[0] >= u'0' && part[0] <= u'9');
        for (QChar c : part)
            plain = plain && ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_');
        if (!plain || parts.size() > 2)
            throw Error(QStringLiteral("Недопустимое имя таблицы значений: \"%1\".").arg(name.left(100)));
        if (!sql.isEmpty()) sql += u'.';
        sql += quoteId(part);
    }
    return TableName(sql);
}

void readInstitutionRows(const QSqlDatabase &d, const TableName &tableName, qint64 hospital, int year,
                         const QString &fields, int columns, const std::function<void(const double *)> &row) {
    const QString &table = tableName.sql();
    // The first and the last row: one look-up each in the (hospital, year)
    // index; counting the rows would read the whole run of the index.
    qint64 first = 0, last = 0;
    {
        const QString sql = QStringLiteral("select (select min(rowid) from %1 where year=?1 and hospital=?2), "
                                           "(select max(rowid) from %1 where year=?1 and hospital=?2)")
                                .arg(table);
        Prepared ends(d, sql, {year, hospital});
        if (sqlite3_step(ends.st) != SQLITE_ROW) throw sqliteError(ends.h, sql);
        if (sqlite3_column_type(ends.st, 0) == SQLITE_NULL) return;
        first = sqlite3_column_int64(ends.st, 0);
        last = sqlite3_column_int64(ends.st, 1);
    }
    // The stretch between them in rowid order, other institutions' rows
    // passed over; once these outnumber the institution's own (its rows lie
    // apart), the rest through the index, still in rowid order.
    std::vector<double> values(std::max(columns, 1));
    qint64 own = 0, others = 0, after = first - 1;
    {
        const QString sql =
            QStringLiteral("select +year=? and +hospital=?, rowid, %1 from %2 where rowid between ? and ?")
                .arg(fields, table);
        Prepared p(d, sql, {year, hospital, first, last});
        int rc;
        while ((rc = sqlite3_step(p.st)) == SQLITE_ROW) {
            if (sqlite3_column_int(p.st, 0) != 1) {
                if (++others > own + 1024) break;
                continue;
            }
            ++own;
            after = sqlite3_column_int64(p.st, 1);
            for (int c = 0; c < columns; ++c) values[c] = sqlite3_column_double(p.st, c + 2);
            row(values.data());
        }
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw sqliteError(p.h, sql);
        if (rc == SQLITE_DONE) return;
    }
    readNumbers(d, QStringLiteral("select %1 from %2 where year=? and hospital=? and rowid>? order by rowid")
                       .arg(fields, table),
                {year, hospital, after}, columns, row);
}

ValueRowInsert::ValueRowInsert(const QSqlDatabase &d, const TableName &table) : m_handle(checkedHandle(d)) {
    const QString sql = QStringLiteral("insert into %1 (hospital, data, year, \"table\", \"column\", \"row\") "
                                       "values (?, ?, ?, ?, ?, ?)").arg(table.sql());
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(static_cast<sqlite3 *>(m_handle), sql.toUtf8().constData(), -1, &st, nullptr) !=
        SQLITE_OK)
        throw sqliteError(static_cast<sqlite3 *>(m_handle), sql);
    m_statement = st;
}

ValueRowInsert::~ValueRowInsert() { sqlite3_finalize(static_cast<sqlite3_stmt *>(m_statement)); }

void ValueRowInsert::add(qint64 hospital, double data, int year, qint64 table, int column, int row) {
    auto *st = static_cast<sqlite3_stmt *>(m_statement);
    sqlite3_bind_int64(st, 1, hospital);
    sqlite3_bind_double(st, 2, data);
    sqlite3_bind_int(st, 3, year);
    sqlite3_bind_int64(st, 4, table);
    sqlite3_bind_int(st, 5, column);
    sqlite3_bind_int(st, 6, row);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) throw statementError(static_cast<sqlite3 *>(m_handle), st);
}

ValueRowBatch::ValueRowBatch(const QSqlDatabase &d, const TableName &table, int rowsPerStatement)
    : m_handle(checkedHandle(d)), m_single(d, table), m_size(std::max(1, rowsPerStatement)) {
    QString sql = QStringLiteral("insert into %1 (hospital, data, year, \"table\", \"column\", \"row\") values ")
                      .arg(table.sql());
    for (int i = 0; i < m_size; ++i) sql += i ? QStringLiteral(",(?,?,?,?,?,?)") : QStringLiteral("(?,?,?,?,?,?)");
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(static_cast<sqlite3 *>(m_handle), sql.toUtf8().constData(), -1, &st, nullptr) !=
        SQLITE_OK)
        throw sqliteError(static_cast<sqlite3 *>(m_handle), sql.left(200));
    m_full = st;
    m_rows.reserve(m_size);
}

ValueRowBatch::~ValueRowBatch() { sqlite3_finalize(static_cast<sqlite3_stmt *>(m_full)); }

void ValueRowBatch::add(qint64 hospital, double data, int year, qint64 table, int column, int row) {
    m_rows.push_back(Row{hospital, data, year, table, column, row});
    if (int(m_rows.size()) == m_size) {
        write(m_full, m_size);
        m_rows.clear();
    }
}

void ValueRowBatch::flush() {
    for (const Row &r : m_rows) m_single.add(r.hospital, r.data, r.year, r.table, r.column, r.row);
    m_rows.clear();
}

void ValueRowBatch::write(void *statement, int rows) {
    auto *st = static_cast<sqlite3_stmt *>(statement);
    for (int i = 0; i < rows; ++i) {
        const Row &r = m_rows[i];
        sqlite3_bind_int64(st, 6 * i + 1, r.hospital);
        sqlite3_bind_double(st, 6 * i + 2, r.data);
        sqlite3_bind_int(st, 6 * i + 3, r.year);
        sqlite3_bind_int64(st, 6 * i + 4, r.table);
        sqlite3_bind_int(st, 6 * i + 5, r.column);
        sqlite3_bind_int(st, 6 * i + 6, r.row);
    }
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) throw statementError(static_cast<sqlite3 *>(m_handle), st);
}

BulkWork::BulkWork(const QSqlDatabase &d, Temp temp) : m_db(d) {
    m_cacheSize = scalar(m_db, QStringLiteral("pragma cache_size"));
    m_tempStore = scalar(m_db, QStringLiteral("pragma temp_store"));
    exec(m_db, QStringLiteral("pragma cache_size=-8192"));
    if (temp == Temp::InMemory) exec(m_db, QStringLiteral("pragma temp_store=memory"));
}

BulkWork::~BulkWork() {
    QSqlQuery(QStringLiteral("pragma cache_size=%1").arg(m_cacheSize.toLongLong()), m_db);
    QSqlQuery(QStringLiteral("pragma temp_store=%1").arg(m_tempStore.toInt()), m_db);
}

namespace {
constexpr int kBusyTimeoutMs = 5000;
constexpr int kBusyStepMs = 10;

// Waits for a locked file in short steps while the caller's test allows it.
int busyWait(void *keepWaiting, int calls) {
    if (calls * kBusyStepMs >= kBusyTimeoutMs || !(*static_cast<std::function<bool()> *>(keepWaiting))()) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyStepMs));
    return 1;
}
} // namespace

BusyWait::BusyWait(const QSqlDatabase &d, std::function<bool()> keepWaiting)
    : m_db(d), m_keepWaiting(std::move(keepWaiting)) {
    if (sqlite3 *h = handleOf(m_db)) sqlite3_busy_handler(h, busyWait, &m_keepWaiting);
}

BusyWait::~BusyWait() {
    if (sqlite3 *h = handleOf(m_db)) sqlite3_busy_timeout(h, kBusyTimeoutMs);
}

namespace {
// The poll of each connection that has one: its transactions end aside.
std::map<sqlite3 *, StatementPoll *> &pollsByHandle() {
    static std::map<sqlite3 *, StatementPoll *> polls;
    return polls;
}

StatementPoll *pollOf(const QSqlDatabase &d) {
    sqlite3 *h = handleOf(d);
    if (!h) return nullptr;
    const auto it = pollsByHandle().find(h);
    return it == pollsByHandle().end() ? nullptr : it->second;
}
} // namespace

StatementPoll::StatementPoll(const QSqlDatabase &d, std::function<bool()> poll) : m_db(d), m_poll(std::move(poll)) {
    if (sqlite3 *h = handleOf(m_db)) {
        sqlite3_progress_handler(h, 1000, pollStatement, this);
        pollsByHandle()[h] = this;
        // A statement interrupted while it waits for a locked file stops waiting.
        sqlite3_busy_handler(
            h,
            [](void *self, int calls) {
                auto *poll = static_cast<StatementPoll *>(self);
                if (calls * kBusyStepMs >= kBusyTimeoutMs) return 0;
                // On the poll's own thread the wait polls like a statement step.
                if (std::this_thread::get_id() == poll->m_owner && !poll->m_poll()) poll->m_stopWaiting = true;
                if (poll->m_stopWaiting) return 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(kBusyStepMs));
                return 1;
            },
            this);
    }
}

StatementPoll::~StatementPoll() {
    if (sqlite3 *h = handleOf(m_db)) {
        sqlite3_progress_handler(h, 0, nullptr, nullptr);
        sqlite3_busy_timeout(h, kBusyTimeoutMs);
        const auto it = pollsByHandle().find(h);
        if (it != pollsByHandle().end() && it->second == this) pollsByHandle().erase(it);
    }
}

bool StatementPoll::keepStepping() {
    if (m_poll()) {
        m_refusedSince.invalidate();
        return true;
    }
    // An interrupted statement that writes takes the whole transaction back
    // at once, inside its step on this thread, where no event runs. A short
    // one is left to end (the job stops after it, and the rollback runs
    // aside); only one still running after a moment is interrupted.
    sqlite3 *h = handleOf(m_db);
    bool writing = false;
    for (sqlite3_stmt *st = h ? sqlite3_next_stmt(h, nullptr) : nullptr; st && !writing; st = sqlite3_next_stmt(h, st))
        writing = sqlite3_stmt_busy(st) && !sqlite3_stmt_readonly(st);
    if (!writing) return false;
    if (!m_refusedSince.isValid()) m_refusedSince.start();
    return m_refusedSince.elapsed() < kWriteGraceMs;
}

StatementPoll::Outcome StatementPoll::runAside(const QByteArray &text, bool interruptible) {
    sqlite3 *h = checkedHandle(m_db);
    // The statement's thread must not call poll: it runs here.
    sqlite3_progress_handler(h, 0, nullptr, nullptr);
    struct Restore {
        sqlite3 *h;
        StatementPoll *poll;
        ~Restore() { sqlite3_progress_handler(h, 1000, pollStatement, poll); }
    } restore{h, this};
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    Outcome out;
    m_stopWaiting = false;
    std::thread worker([&] {
        char *err = nullptr;
        const int result = sqlite3_exec(h, text.constData(), nullptr, nullptr, &err);
        const QString message = result == SQLITE_OK ? QString() : QString::fromUtf8(err ? err : sqlite3_errmsg(h));
        sqlite3_free(err);
        const std::lock_guard<std::mutex> lock(mutex);
        out.rc = result;
        out.why = message;
        done = true;
        finished.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    while (!done) {
        if (finished.wait_for(lock, std::chrono::milliseconds(10), [&] { return done; })) break;
        lock.unlock();
        // The window goes on painting after "Отмена" until the statement ends.
        bool goOn = false;
        try {
            goOn = m_poll();
        } catch (...) {
        }
        if (!goOn && interruptible && !out.interrupted) {
            m_stopWaiting = true;
            sqlite3_interrupt(h);
            out.interrupted = true;
        }
        lock.lock();
    }
    lock.unlock();
    worker.join();
    return out;
}

void StatementPoll::execAside(const QString &sql) {
    const Outcome r = runAside(sql.toUtf8(), true);
    if (r.rc == SQLITE_OK) return;
    if (r.interrupted) throw Cancelled();   // interrupted, or it stopped waiting for a locked file
    throw statementError(m_db, sql, QSqlError(r.why, QString(), QSqlError::StatementError, QString::number(r.rc)));
}

void StatementPoll::rollbackAside() {
    sqlite3 *h = handleOf(m_db);
    if (!h || sqlite3_get_autocommit(h)) return;   // nothing open (a failed commit may have ended it)
    runAside(QByteArrayLiteral("ROLLBACK"), false);
    if (!sqlite3_get_autocommit(h)) {
        // Statements still reading hold the transaction: reset them, then again.
        for (sqlite3_stmt *st = sqlite3_next_stmt(h, nullptr); st; st = sqlite3_next_stmt(h, st))
            if (sqlite3_stmt_busy(st)) sqlite3_reset(st);
        runAside(QByteArrayLiteral("ROLLBACK"), false);
    }
}

void StatementPoll::commitAside() {
    const Outcome r = runAside(QByteArrayLiteral("COMMIT"), true);
    if (r.rc == SQLITE_OK) return;
    rollbackAside();
    if (r.interrupted) throw Cancelled();
    const QString why = errorReason(QSqlError(r.why, QString(), QSqlError::TransactionError, QString::number(r.rc)));
    throw Error(QStringLiteral("Не удалось сохранить изменения в базе данных (%1): %2.")
                    .arg(QFileInfo(m_db.databaseName()).fileName(), why),
                why);
}

namespace {
int busyWait(void *keepWaiting, int calls);
QSqlDatabase openWaiting(const QString &name, const QString &file, OpenMode mode,
                         const std::function<bool()> *keepWaiting);
} // namespace

QSqlDatabase open(const QString &name, const QString &file, OpenMode mode) {
    return openWaiting(name, file, mode, nullptr);
}

namespace {
QSqlDatabase openWaiting(const QString &name, const QString &file, OpenMode mode,
                         const std::function<bool()> *keepWaiting) {
    close(name);
    if (mode != OpenMode::Create && !QFileInfo(file).isFile())
        throw Error(openErrorText(file, QStringLiteral("файл не найден")));
    QSqlDatabase d = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                  : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    d.setDatabaseName(file);
    d.setConnectOptions(mode == OpenMode::ReadOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                                   : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!d.open()) {
        throw Error(openErrorText(file, errorReason(d, d.lastError())));
    }
    // A file that is not a database opens fine and fails on first use: check now.
    sqlite3 *h = handleOf(d);
    if (keepWaiting && h) sqlite3_busy_handler(h, busyWait, const_cast<std::function<bool()> *>(keepWaiting));
    QSqlQuery probe(d);
    if (!probe.exec(QStringLiteral("select count(*) from sqlite_master"))) {
        const QString why = errorReason(d, probe.lastError());
        probe.finish();
        d.close();
        throw Error(openErrorText(file, why));
    }
    probe.finish();
    if (keepWaiting && h) sqlite3_busy_timeout(h, kBusyTimeoutMs);
    registerUnicode(d);
    if (mode != OpenMode::ReadOnly) {
        QSqlQuery pragma(d);
        pragma.exec(QStringLiteral("PRAGMA foreign_keys=OFF"));
    }
    return d;
}

} // namespace

bool tryOpen(const QString &name, const QString &file, OpenMode mode, QString *error) {
    try {
        open(name, file, mode);
        return true;
    } catch (const Error &e) {
        if (error) *error = e.message();
        return false;
    }
}

void close(const QString &name) {
    if (!QSqlDatabase::contains(name)) return;
    {
        QSqlDatabase d = QSqlDatabase::database(name, false);
        if (d.isOpen()) d.close();
    }
}

bool isOpen(const QString &name) {
    return QSqlDatabase::contains(name) && QSqlDatabase::database(name, false).isOpen();
}

QSqlDatabase connection(const QString &name) {
    if (!QSqlDatabase::contains(name))
        throw Error(QStringLiteral("База данных %1 не открыта").arg(name));
    QSqlDatabase d = QSqlDatabase::database(name, false);
    if (!d.isOpen()) throw Error(QStringLiteral("База данных %1 не открыта").arg(name));
    return d;
}

QString fileOf(const QString &name) {
    if (!isOpen(name)) return QString();
    return QSqlDatabase::database(name, false).databaseName();
}

QString uniqueName(const QString &prefix) {
    static QAtomicInteger<int> counter(0);
    return QStringLiteral("%1_%2").arg(prefix).arg(counter.fetchAndAddRelaxed(1) + 1);
}

ScopedConnection::ScopedConnection(const QString &file, OpenMode mode, const QString &prefix)
    : m_name(uniqueName(prefix)) {
    try {
        open(m_name, file, mode);
    } catch (...) {
        QSqlDatabase::removeDatabase(m_name);
        throw;
    }
}

ScopedConnection::ScopedConnection(const QString &file, OpenMode mode, const QString &prefix,
                                   const std::function<bool()> &keepWaiting)
    : m_name(uniqueName(prefix)) {
    try {
        openWaiting(m_name, file, mode, &keepWaiting);
    } catch (...) {
        QSqlDatabase::removeDatabase(m_name);
        throw;
    }
}

ScopedConnection::~ScopedConnection() {
    close(m_name);
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase ScopedConnection::db() const { return QSqlDatabase::database(m_name, false); }

QString quoteId(const QString &identifier) {
    QString s = identifier;
    s.replace(u'"', QStringLiteral("\"\""));
    return u'"' + s + u'"';
}

bool storedYes(const QVariant &value) {
    if (value.isNull() || !value.isValid()) return false;
    const QString s = value.toString().trimmed().toLower();
    if (s == u"true" || s == u"yes" || s == u"да") return true;
    if (s.isEmpty() || s == u"false" || s == u"no" || s == u"нет") return false;
    return s.toDouble() != 0;
}

QString likeLiteral(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == u'%' || c == u'_' || c == u'\\') out += u'\\';
        out += c;
    }
    return out;
}

QSqlQuery exec(const QSqlDatabase &d, const QString &sql, const QVariantList &params) {
    QSqlQuery q(d);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw statementError(d, sql, q.lastError());
    for (const QVariant &p : params) q.addBindValue(p);
    if (!q.exec()) throw statementError(d, sql, q.lastError());
    return q;
}

QSqlQuery exec(const QString &connectionName, const QString &sql, const QVariantList &params) {
    return exec(connection(connectionName), sql, params);
}

QSqlQuery execRow(const QSqlDatabase &d, const QString &sql, const QVariantList &params, const QString &gone) {
    QSqlQuery q = exec(d, sql, params);
    if (q.numRowsAffected() <= 0) throw Error(gone);
    return q;
}

bool updateOrInsert(const QSqlDatabase &d, const QString &update, const QVariantList &updateParams,
                    const QString &insert, const QVariantList &insertParams) {
    if (exec(d, update, updateParams).numRowsAffected() > 0) return false;
    exec(d, insert, insertParams);
    return true;
}

void requireRow(const QSqlDatabase &d, const QString &sql, const QVariantList &params, const QString &gone) {
    if (!exec(d, sql, params).next()) throw Error(gone);
}

QVariant scalar(const QSqlDatabase &d, const QString &sql, const QVariantList &params) {
    QSqlQuery q = exec(d, sql, params);
    if (q.next()) return q.value(0);
    return QVariant();
}

QVariantList column(const QSqlDatabase &d, const QString &sql, const QVariantList &params) {
    QVariantList out;
    QSqlQuery q = exec(d, sql, params);
    while (q.next()) out.append(q.value(0));
    return out;
}

qint64 lastInsertId(const QSqlDatabase &d) {
    return scalar(d, QStringLiteral("select last_insert_rowid()")).toLongLong();
}

namespace {
// Transactions open per connection: a transaction inside another one of the
// same connection is a savepoint of it, so a run can hold all its steps in
// one transaction while each step keeps its own.
QHash<QString, int> &transactionDepth() {
    static QHash<QString, int> depth;
    return depth;
}
} // namespace

namespace {
// A commit that failed may leave the transaction open (a busy file, a
// deferred constraint): it is rolled back, the statements still reading
// being reset first when they hold it, so that the connection takes new
// work at once instead of failing until it is opened again.
void rollbackFailedCommit(QSqlDatabase &d) {
    d.rollback();
    sqlite3 *h = handleOf(d);
    if (!h || sqlite3_get_autocommit(h)) return;
    for (sqlite3_stmt *st = sqlite3_next_stmt(h, nullptr); st; st = sqlite3_next_stmt(h, st))
        if (sqlite3_stmt_busy(st)) sqlite3_reset(st);
    sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
}
} // namespace

void transaction(const QSqlDatabase &dconst, const std::function<void()> &work) {
    QSqlDatabase d = dconst;
    int &depth = transactionDepth()[d.connectionName()];
    if (depth > 0) {
        const QString name = QStringLiteral("s%1").arg(depth);
        exec(d, QStringLiteral("SAVEPOINT ") + name);
        ++depth;
        try {
            work();
        } catch (...) {
            --transactionDepth()[d.connectionName()];
            QSqlQuery(QStringLiteral("ROLLBACK TO ") + name, d);
            QSqlQuery(QStringLiteral("RELEASE ") + name, d);
            throw;
        }
        --transactionDepth()[d.connectionName()];
        exec(d, QStringLiteral("RELEASE ") + name);
        return;
    }
    if (!d.transaction()) {
        const QString why = errorReason(d, d.lastError());
        throw Error(QStringLiteral("Не удалось начать запись в базу данных (%1): %2.")
                        .arg(QFileInfo(d.databaseName()).fileName(), why),
                    why);
    }
    depth = 1;
    try {
        work();
    } catch (...) {
        transactionDepth()[d.connectionName()] = 0;
        if (StatementPoll *aside = pollOf(d)) aside->rollbackAside();
        else d.rollback();
        throw;
    }
    transactionDepth()[d.connectionName()] = 0;
    if (StatementPoll *aside = pollOf(d)) {
        aside->commitAside();
        return;
    }
    if (!d.commit()) {
        const QString why = errorReason(d, d.lastError());
        rollbackFailedCommit(d);
        throw Error(QStringLiteral("Не удалось сохранить изменения в базе данных (%1): %2.")
                        .arg(QFileInfo(d.databaseName()).fileName(), why),
                    why);
    }
}

bool tableExists(const QSqlDatabase &d, const QString &table) {
    return scalar(d, QStringLiteral("select count(*) from sqlite_master where type='table' and lower(name)=lower(?)"),
                  {table}).toInt() > 0;
}

void copyDatabase(const QString &sourceFile, const QString &targetFile) {
    if (!QFileInfo(sourceFile).isFile())
        throw Error(QStringLiteral("Файл %1 не найден").arg(sourceFile));
    if (QFileInfo::exists(targetFile) && !QFile::remove(targetFile))
        throw Error(QStringLiteral("Не удалось заменить файл %1").arg(targetFile));
    ScopedConnection src(sourceFile, OpenMode::ReadOnly, QStringLiteral("copy"));
    try {
        exec(src.db(), QStringLiteral("VACUUM INTO ?"), {targetFile});
    } catch (const Error &e) {
        QFile::remove(targetFile);
        throw Error(QStringLiteral("Не удалось скопировать базу данных %1 в %2: %3")
                        .arg(sourceFile, targetFile, e.message()));
    }
}

void attach(const QSqlDatabase &d, const QString &file, const QString &alias) {
    exec(d, QStringLiteral("ATTACH DATABASE ? AS %1").arg(quoteId(alias)), {file});
}

void detach(const QSqlDatabase &d, const QString &alias) {
    exec(d, QStringLiteral("DETACH DATABASE %1").arg(quoteId(alias)));
}

QString inList(const QList<qint64> &ids) {
    if (ids.isEmpty()) return QStringLiteral("NULL");
    QStringList parts;
    parts.reserve(ids.size());
    for (qint64 id : ids) parts.append(QString::number(id));
    return parts.join(u',');
}

QString inList(const QList<int> &ids) {
    QList<qint64> wide;
    wide.reserve(ids.size());
    for (int id : ids) wide.append(id);
    return inList(wide);
}

} // namespace db
