// Every state the program folder, the settings file and the last configuration can be in, started the way main starts
// the program (startProgram) and started again: each state (a row) with each answer a user may give (a column) ends
// in the main window on a year whose databases work, at this start and at the next. Only a Cancel ends the program,
// and the next start is then no worse. Every message on the way is Russian, names what it is about and never names a
// working folder of the program. Each cell runs in a child process of its own, where the file permissions hold as for
// an ordinary user.
#include "app/MainWindow.h"
#include "app/SmallDialogs.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/ForeignEncodings.h"
#include "widgets/AbcComboBox.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kCur = QStringLiteral("Конфигурация");
const QString kList = QStringLiteral("Конфигурации");
const QString kName = QStringLiteral("Образец");
constexpr int kYear = 2024;   // the stored year; 2023 is there as well

// The answers of one column.
enum class Answer { No, Yes, Cancel, Other };

const char *answerName(Answer a) {
    switch (a) {
    case Answer::No: return "Нет";
    case Answer::Yes: return "Да";
    case Answer::Cancel: return "Отказ";
    case Answer::Other: return "другая конфигурация";
    }
    return "";
}

// A user answering every window of the start-up by one rule: questions No (or Yes), the first year offered, the
// first (or, choosing another configuration, the last) configuration offered, the spare folder in the attach dialog;
// Cancel rejects every window.
class Answers : public DialogProvider {
public:
    Answers(Answer rule, QString spare) : m_rule(rule), m_spare(std::move(spare)) { setDialogs(this); }
    ~Answers() override { setDialogs(nullptr); }
    QStringList said;     // messages and questions, in order
    QStringList windows;  // captions of the modal windows
    void message(QWidget *, const QString &text, MsgKind) override { said.append(text); }
    bool question(QWidget *, const QString &text, const QString &) override {
        said.append(text);
        return m_rule == Answer::Yes;
    }
    int questionCancel(QWidget *, const QString &text, const QString &) override {
        said.append(text);
        return -1;
    }
    std::optional<QString> inputText(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString openFile(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QStringList openFiles(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString saveFile(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return m_spare; }
    bool openDocument(const QString &) override { return true; }
    int execModal(QDialog *d) override {
        windows.append(d->windowTitle());
        if (auto *sel = qobject_cast<TSelectConfig *>(d)) said.append(sel->reasonText());
        // A window shown again and again is a start that never ends.
        if (m_rule == Answer::Cancel || windows.size() > 12) return QDialog::Rejected;
        if (auto *sby = qobject_cast<TSBY *>(d)) {
            if (sby->yearBox()->count() == 0) return QDialog::Rejected;
            sby->yearBox()->setCurrentIndex(0);
            return QDialog::Accepted;
        }
        if (auto *sel = qobject_cast<TSelectConfig *>(d)) {
            sel->choiceBox()->setCurrentIndex(m_rule == Answer::Other ? sel->choiceBox()->count() - 1 : 0);
            return QDialog::Accepted;
        }
        if (auto *gbp = qobject_cast<TGBP *>(d)) {
            gbp->nameEdit()->setText(QStringLiteral("Запасная"));
            gbp->setFolder(m_spare);
            return gbp->okButton()->isEnabled() ? QDialog::Accepted : QDialog::Rejected;
        }
        return QDialog::Rejected;
    }

private:
    Answer m_rule;
    QString m_spare;
};

// One start as main runs it: what the user met, and whether it ended in the main window on a working year.
struct Start {
    bool reached = false;
    QString faults;   // why the window reached is not usable
    QStringList said, windows;
    QString where;    // configuration and year opened
};

Start startOnce(Answer rule, const QString &spare) {
    Start r;
    Answers answers(rule, spare);
    {
        const std::unique_ptr<TMain> main = startProgram();
        r.said = answers.said;
        r.windows = answers.windows;
        if (!main) return r;
        r.reached = true;
        const SharedState &s = shared();
        r.where = s.ConfigName + QLatin1Char(' ') + s.yearText();
        QStringList bad;
        if (!config::isReportingYear(s.Year)) bad << QStringLiteral("год %1").arg(s.Year);
        if (db::fileOf(db::kMain) != s.yearFolder() + QStringLiteral("orvmain.mdb")) bad << "dbmain " + db::fileOf(db::kMain);
        if (db::fileOf(db::kData) != s.yearFolder() + QStringLiteral("data0.mdb")) bad << "dbdat " + db::fileOf(db::kData);
        for (const auto &[name, sql] : {std::pair{db::kMain, "select count(*) from forms"},
                                        std::pair{db::kData, "select count(*) from data"}}) {
            if (!db::isOpen(name)) continue;
            QSqlQuery q(QSqlDatabase::database(name, false));
            if (!q.exec(QString::fromLatin1(sql))) bad << QStringLiteral("%1 не читается").arg(name);
        }
        if (main->yearLabel()->text() != s.yearText()) bad << "Label2 " + main->yearLabel()->text();
        if (main->databaseList()->currentText() != s.ConfigName) bad << "DBList " + main->databaseList()->currentText();
        r.faults = bad.join(QStringLiteral(", "));
    }
    db::close(db::kData);
    db::close(db::kMain);
    shared().ConfigName.clear();
    shared().ConfigPath.clear();
    shared().Year = 0;
    return r;
}

// What is wrong with a text the user was shown: English (the system's or a library's own words) or a working folder.
QString badText(const QString &text) {
    if (text.contains(QStringLiteral(".new"))) return QStringLiteral("рабочая папка");
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{3,}"));
    static const QStringList allowed = {"UTF", "KOI", "Windows", "DOS", "orvmain", "mdb", "data", "cfg", "Kelvana"};
    // Paths name folders as they are.
    QString rest;
    for (const QString &token : text.split(QRegularExpression(QStringLiteral("\\s"))))
        if (!token.contains(u'/')) rest += token + u' ';
    for (auto it = word.globalMatch(rest); it.hasNext();) {
        const QString w = it.next().captured();
        if (!allowed.contains(w)) return QStringLiteral("по-английски: ") + w;
    }
    return QString();
}

// One cell: the installation copied from the template, the state made, the program started twice in a child.
struct Installation {
    QString root, program, config, spare, second, settings;
};

struct Row {
    QString state;
    std::function<void(const Installation &)> make;   // run before the starts, with full rights
    bool ordinaryUser = false;                         // the starts run without root's rights over files
    QStringList said;                                  // what the first start must name (messages and questions)
    bool keepsSettings = false;                        // the settings file must stay byte for byte
    std::function<void()> inChild;                     // run in the child before the starts (holding a lock)
    bool staysInConfiguration = false;                 // a year fails, not the configuration: its other years open
};

void copyTree(const QString &from, const QString &to) {
    QDir().mkpath(to);
    for (QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        if (it.fileInfo().isDir()) QDir().mkpath(target);
        else QFile::copy(path, target);
    }
}

QString runCell(const QString &templateRoot, const Row &row, Answer answer, QString *report) {
    QTemporaryDir dir;
    Installation in;
    in.root = dir.path() + QLatin1Char('/');
    copyTree(templateRoot, dir.path());
    in.program = in.root + QStringLiteral("program/");
    in.config = in.root + QStringLiteral("config");
    in.spare = in.root + QStringLiteral("spare");
    in.second = in.root + QStringLiteral("second");
    paths::setProgramFolder(in.program);
    in.settings = paths::settingsFile();
    {
        IniFile ini(in.settings);
        ini.writeInteger(kCur, QStringLiteral("Year"), kYear);
        ini.writeInteger(kCur, QStringLiteral("Last"), 0);
        ini.writeString(kList, kName, in.config);
        if (answer == Answer::Other) ini.writeString(kList, QStringLiteral("Второй"), in.second);
    }
    row.make(in);
    const QByteArray settingsBefore = fileBytes(in.settings);
    const LimitedRun run = runWithFileSizeLimit(1LL << 40, [&](QString &report) {
        QStringList faults;
        if (row.ordinaryUser && !dropFileRights()) faults << QStringLiteral("права не сняты");
        if (row.inChild) row.inChild();
        const Start first = startOnce(answer, in.spare);
        // After a Cancel the next start is answered with care, and must get as far.
        const Start second = startOnce(answer == Answer::Cancel ? Answer::No : answer, in.spare);
        if (!first.reached && (answer != Answer::Cancel || first.windows.isEmpty()))
            faults << QStringLiteral("первый запуск закончился без окна");
        if (first.reached && !first.faults.isEmpty()) faults << QStringLiteral("первый запуск: ") + first.faults;
        if (!second.reached) faults << QStringLiteral("второй запуск закончился без окна");
        const QString mine = kName + u' ';
        if (row.staysInConfiguration && ((first.reached && !first.where.startsWith(mine)) ||
                                         (second.reached && !second.where.startsWith(mine))))
            faults << QStringLiteral("открыта другая конфигурация, а не другой год этой");
        if (second.reached && !second.faults.isEmpty()) faults << QStringLiteral("второй запуск: ") + second.faults;
        for (const QString &text : first.said + second.said)
            if (const QString why = badText(text); !why.isEmpty()) faults << why + QStringLiteral(" в \"") + text + u'"';
        if (answer != Answer::Cancel)
            for (const QString &part : row.said)
                if (!first.said.join(u'\n').contains(part)) faults << QStringLiteral("не названо \"%1\"").arg(part);
        report = QStringLiteral("%1 | %2 | окна: %3 | сказано: %4")
                     .arg(first.reached ? first.where : QStringLiteral("выход"),
                          second.reached ? second.where : QStringLiteral("выход"),
                          (first.windows + second.windows).join(QStringLiteral(", ")),
                          (first.said + second.said).join(QStringLiteral(" // ")));
        if (!faults.isEmpty()) report = faults.join(QStringLiteral("; ")) + QStringLiteral("\n  ") + report;
        return faults.isEmpty();
    });
    paths::setProgramFolder(QString());
    *report = run.message;
    QString out;
    if (!run.finished) out = QStringLiteral("процесс не завершился сам: ") + run.message;
    else if (!run.result) out = run.message;
    if (row.keepsSettings && fileBytes(in.settings) != settingsBefore)
        out += QStringLiteral("; файл настроек изменен");
    return out;
}

void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile::remove(path);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

QByteArray randomBytes(int n) {
    QByteArray b(n, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (int i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = char(x >> 24);
    }
    return b;
}

// An SQLite file holding no table (one page written, as a database made and left empty is).
void databaseWithoutTables(const QString &path) {
    QFile::remove(path);
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("empty"));
        d.setDatabaseName(path);
        d.open();
        QSqlQuery(d).exec(QStringLiteral("PRAGMA user_version=7"));
        d.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("empty"));
}

QString yearFile(const Installation &in, const QString &file) {
    return in.config + QStringLiteral("/%1/").arg(kYear) + file;
}

// The settings file's text as the program writes it, in other encodings.
QString settingsText(const Installation &in) {
    QStringList lines;
    cp1251::readLines(in.settings, lines);
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QList<Row> rows() {
    QList<Row> out;
    const auto settingsBytes = [](std::function<QByteArray(const Installation &)> bytes) {
        return [bytes](const Installation &in) { writeBytes(in.settings, bytes(in)); };
    };
    out << Row{QStringLiteral("файла настроек нет"), [](const Installation &in) { QFile::remove(in.settings); }};
    out << Row{QStringLiteral("файл настроек пуст"), settingsBytes([](const Installation &) { return QByteArray(); })};
    out << Row{QStringLiteral("файл настроек - папка"),
               [](const Installation &in) {
                   QFile::remove(in.settings);
                   QDir().mkpath(in.settings);
               },
               false, {QStringLiteral("под этим именем находится папка")}};
    out << Row{QStringLiteral("файл настроек не читается"),
               [](const Installation &in) { QFile::setPermissions(in.settings, QFileDevice::Permissions()); }, true,
               {QStringLiteral("нет доступа")}, true};
    out << Row{QStringLiteral("файл настроек только для чтения"),
               [](const Installation &in) { QFile::setPermissions(in.settings, QFileDevice::ReadOwner); }, true, {}, true};
    out << Row{QStringLiteral("файл настроек в UTF-16"),
               settingsBytes([](const Installation &in) { return utf16(settingsText(in), false, true); }), false,
               {QStringLiteral("UTF-16")}, true};
    out << Row{QStringLiteral("файл настроек в UTF-16 без метки, с лишним байтом"),
               settingsBytes([](const Installation &in) {
                   QByteArray b = utf16(settingsText(in), false, false);
                   return b.insert(b.size() / 3, 'x');
               }),
               false, {QStringLiteral("нулевые байты")}, true};
    out << Row{QStringLiteral("файл настроек в KOI8-R"),
               settingsBytes([](const Installation &in) { return koi8r(settingsText(in)); }), false,
               {QStringLiteral("KOI8-R")}};
    out << Row{QStringLiteral("файл настроек в поврежденном UTF-8"),
               settingsBytes([](const Installation &in) { return settingsText(in).toUtf8() + "\xC8"; }), false,
               {QStringLiteral("UTF-8")}, true};
    out << Row{QStringLiteral("файл настроек с байтом 0x98"),
               settingsBytes([](const Installation &in) { return cp1251::encode(settingsText(in)) + "\x98\r\n"; }),
               false, {QStringLiteral("0x98")}, true};
    const auto storedYear = [](const QString &text) {
        return [text](const Installation &in) {
            IniFile ini(in.settings);
            if (text.isNull()) ini.deleteKey(kCur, QStringLiteral("Year"));
            else ini.writeString(kCur, QStringLiteral("Year"), text);
        };
    };
    out << Row{QStringLiteral("Year нет"), storedYear(QString())};
    const qsizetype yearRows = out.size();
    for (const char *y : {"0", "-1", "abc"}) out << Row{QStringLiteral("Year=") + y, storedYear(QString::fromLatin1(y))};
    out << Row{QStringLiteral("Year без папки"), storedYear(QStringLiteral("2030")), false, {QStringLiteral("2030")}};
    for (const QString file : {QStringLiteral("orvmain.mdb"), QStringLiteral("data0.mdb")}) {
        out << Row{file + QStringLiteral(" пуст"), [file](const Installation &in) { writeBytes(yearFile(in, file), {}); },
                   false, {file}};
        out << Row{file + QStringLiteral(" - случайные байты"),
                   [file](const Installation &in) { writeBytes(yearFile(in, file), randomBytes(9000)); }, false,
                   {file, QStringLiteral("2024"), kName}};
        out << Row{file + QStringLiteral(" без таблиц"),
                   [file](const Installation &in) { databaseWithoutTables(yearFile(in, file)); }, false, {file}};
        out << Row{file + QStringLiteral(" только для чтения"),
                   [file](const Installation &in) {
                       QFile::setPermissions(yearFile(in, file), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
                   },
                   true};
        Row locked{file + QStringLiteral(" заблокирован другой программой"), [](const Installation &) {}};
        locked.said = {file, QStringLiteral("2024")};
        locked.inChild = [file] {
            // Held to the end of the child, as another program holds it.
            QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            d.setDatabaseName(paths::programFolder() + QStringLiteral("../config/%1/").arg(kYear) + file);
            d.open();
            QSqlQuery(d).exec(QStringLiteral("BEGIN EXCLUSIVE"));
        };
        out << locked;
    }
    for (qsizetype i = yearRows - 1; i < out.size(); ++i) out[i].staysInConfiguration = true;
    out << Row{QStringLiteral("Last за концом списка"), [](const Installation &in) {
                   IniFile(in.settings).writeInteger(kCur, QStringLiteral("Last"), 5);
               }};
    out << Row{QStringLiteral("папки конфигурации нет"),
               [](const Installation &in) { QDir(in.config).removeRecursively(); }, false, {kName}};
    out << Row{QStringLiteral("папка конфигурации только для чтения"), [](const Installation &in) {
                   QFile::setPermissions(in.config, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
               },
               true};
    out << Row{QStringLiteral("папка конфигурации пуста"),
               [](const Installation &in) {
                   QDir(in.config).removeRecursively();
                   QDir().mkpath(in.config);
               },
               false, {kName, QStringLiteral("нет ни одного отчетного года")}};
    out << Row{QStringLiteral("папка программы только для чтения"), [](const Installation &in) {
                   QFile::setPermissions(in.program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
               },
               true, {}, true};
    out << Row{QStringLiteral("папка программы только для чтения, файла настроек нет"),
               [](const Installation &in) {
                   QFile::remove(in.settings);
                   QFile::setPermissions(in.program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
               },
               true, {QStringLiteral("нет доступа")}};
    return out;
}

} // namespace

TEST(StartStates, EveryStateEndsInAWorkingYearAtThisStartAndTheNext) {
    // The installation every cell starts from: the program folder, the configuration with 2023 and 2024, a second
    // one and a spare folder to attach.
    QTemporaryDir templ;
    ASSERT_TRUE(templ.isValid());
    const QString root = templ.path() + QLatin1Char('/');
    paths::makePath(root + QStringLiteral("program"));
    sample::createProgramFiles(root + QStringLiteral("program/"));
    sample::createConfiguration(root + QStringLiteral("config"), kYear, true);
    sample::createConfiguration(root + QStringLiteral("second"), kYear);
    sample::createConfiguration(root + QStringLiteral("spare"), kYear);
    QStringList faults, table;
    for (const Row &row : rows())
        for (const Answer answer : {Answer::No, Answer::Yes, Answer::Cancel, Answer::Other}) {
            QString report;
            const QString fault = runCell(templ.path(), row, answer, &report);
            table << QStringLiteral("%1 / %2: %3").arg(row.state, QString::fromUtf8(answerName(answer)),
                                                      fault.isEmpty() ? QStringLiteral("да: ") + report : fault);
            if (!fault.isEmpty()) faults << table.last();
        }
    if (qEnvironmentVariableIsSet("KELVANA_START_TABLE")) std::printf("%s\n", table.join(u'\n').toUtf8().constData());
    EXPECT_TRUE(faults.isEmpty()) << faults.size() << " of " << table.size() << "\n"
                                  << faults.join(u'\n').toStdString();
}
