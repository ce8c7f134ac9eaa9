#include "forms/PresenceReport.h"

#include "engine/Common.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "forms/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QSqlQuery>
#include <cmath>

namespace presence {

namespace {
constexpr int kMaxLine = 150;
constexpr int kCounter = 8;
} // namespace

int FindTablesListIndex(const QString &formName, const QString &tablen) {
    const StringList &list = shared().TablesList;
    const QString prefix = text::upper(formName) + QStringLiteral("*Т") + tablen;
    for (int i = 0; i < list.count(); ++i)
        if (list.text(i).startsWith(prefix)) return i;
    return list.count();
}

int IndexOfTableIdentInArray(qint64 ident) {
    const int i = IndexOfTableIdent(ident);
    return i >= 0 ? i : int(shared().TablesArray.size());
}

void clearCounters() {
    for (auto &row : shared().TablesArray) row[kCounter] = 0;
}

int fillPercent(int counter, int colCount, int rowCount, int fixCols, int fixRows) {
    const double cells = double(colCount - fixCols) * double(rowCount - fixRows);
    if (cells <= 0) return 0;
    return int(std::nearbyint(100.0 * counter / cells));
}

QStringList formLines() {
    const SharedState &s = shared();
    QStringList out;
    for (const StringList::Item &form : s.FormsList) {
        const int dash = int(form.text.indexOf(QStringLiteral(" - ")));
        const QString name = dash >= 0 ? form.text.left(dash) : form.text;
        const QString start = name + QStringLiteral("*");
        const QString numbered = name + QStringLiteral("*Т");
        const QString prefix = name + QLatin1Char('\t');
        QString line = prefix;
        for (int i = 0; i < s.TablesList.count() && i < s.TablesArray.size(); ++i) {
            const QString &t = s.TablesList.text(i);
            if (!t.startsWith(start)) continue;
            const auto &row = s.TablesArray[i];
            if (row[kCounter] <= 0) continue;
            QString tablen = t.mid(numbered.size());
            const int end = int(tablen.indexOf(QStringLiteral(" - ")));
            if (end >= 0) tablen = tablen.left(end);
            const QString item = tablen + QStringLiteral(" - ") +
                                 QString::number(fillPercent(row[kCounter], row[2], row[3], row[4], row[5])) +
                                 QStringLiteral("%, ");
            if (line.size() > prefix.size() && line.size() + item.size() > kMaxLine) {
                out.append(line.chopped(2));
                line = prefix;
            }
            line += item;
        }
        if (line.size() > prefix.size()) out.append(line.chopped(2));
    }
    return out;
}

StringList reportByDatabase(const QList<UnitNode> &nodes, const LabelFn &label) {
    SharedState &s = shared();
    StringList out;
    const QSqlDatabase values = db::connection(db::kData);
    for (const UnitNode &n : nodes) {
        out.add(n.text);
        if (!n.leaf) continue;
        if (label) label(n.text);
        clearCounters();
        QSqlQuery q = db::exec(values,
                               QStringLiteral("select \"table\" from data where year=? and hospital=? order by \"table\""),
                               {s.Year, n.id});
        bool any = false;
        while (q.next()) {
            any = true;
            const int i = IndexOfTableIdentInArray(q.value(0).toLongLong());
            if (i < s.TablesArray.size()) ++s.TablesArray[i][kCounter];
        }
        if (any)
            for (const QString &line : formLines()) out.add(line);
    }
    return out;
}

StringList reportByFiles(const QStringList &files, const LabelFn &label, const std::function<void(int)> &step) {
    SharedState &s = shared();
    StringList out;
    int done = 0;
    for (const QString &file : files) {
        clearCounters();
        const QString name = transfer::unitNameOfFile(file);
        if (label) label(name);
        const bool byId = file.endsWith(QStringLiteral("orv"), Qt::CaseInsensitive);
        QStringList lines;
        cp1251::readLines(file, lines);   // a file that cannot be read gives its name line only
        QHash<QString, QString> formNames;
        bool any = false;
        for (const QString &line : lines) {
            transfer::Record r;
            if (!transfer::parseRecord(line, r) || r.year != s.Year) continue;
            QString form = r.form;
            if (byId) {
                auto it = formNames.constFind(r.form);
                if (it == formNames.constEnd()) {
                    bool ok = false;
                    const qint64 id = r.form.toLongLong(&ok);
                    it = formNames.insert(r.form, ok ? GetFormNameById(id) : QString());
                }
                form = *it;
            }
            if (form.isEmpty()) continue;
            const int i = FindTablesListIndex(form, r.tablen);
            if (i >= 0 && i < s.TablesArray.size()) {
                ++s.TablesArray[i][kCounter];
                any = true;
            }
        }
        out.add(name);
        if (any)
            for (const QString &l : formLines()) out.add(l);
        if (step) step(++done);
    }
    return out;
}

QString listCaption() { return QStringLiteral("Справка о наличии информации в ЛПУ"); }
QString listHeader() { return QStringLiteral("Форма\tЗаполнение таблиц"); }

QString listHeading(const QString &mainCaption) {
    const int dash = int(mainCaption.indexOf(QStringLiteral(" - ")));
    const QString tail = dash >= 0 ? mainCaption.mid(dash + 3) : mainCaption;
    const QDateTime now = QDateTime::currentDateTime();
    return tail + QStringLiteral(" - ") + text::shortDate(now.date()) + QLatin1Char(' ') + text::longTime(now.time());
}

} // namespace presence
