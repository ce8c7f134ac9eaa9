#include "forms/territory/PresenceReport.h"

#include "engine/Lookups.h"
#include "engine/StringList.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QSqlQuery>
#include <cmath>

namespace presence {

namespace {
constexpr int kMaxLine = 150;
} // namespace

int fillPercent(int counter, int colCount, int rowCount, int fixCols, int fixRows) {
    const double cells = double(colCount - fixCols) * double(rowCount - fixRows);
    if (cells <= 0) return 0;
    return int(std::nearbyint(100.0 * counter / cells));
}

QStringList formLines(const TableCounts &counts) {
    const YearCaches &caches = shared().Caches;
    QStringList out;
    for (const CachedForm &form : caches.forms) {
        const QString prefix = form.name + QLatin1Char('\t');
        QString line = prefix;
        for (const CachedTable &t : caches.tables) {
            if (t.formId != form.id) continue;
            const int counter = counts.value(t.shape.ident);
            if (counter <= 0) continue;
            const TableShape &g = t.shape;
            const QString item = t.tablen + QStringLiteral(" - ") +
                                 QString::number(fillPercent(counter, g.colcount, g.rowcount, g.fixcols, g.fixrows)) +
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
        TableCounts counts;
        QSqlQuery q = db::exec(values,
                               QStringLiteral("select \"table\" from %1 where year=? and hospital=? order by \"table\"")
                                   .arg(ValueTableName(ValueTable::Data)),
                               {s.Year, n.id});
        bool any = false;
        while (q.next()) {
            any = true;
            ++counts[q.value(0).toLongLong()];
        }
        if (any)
            for (const QString &line : formLines(counts)) out.add(line);
    }
    return out;
}

StringList reportByFiles(const QStringList &files, const LabelFn &label, const std::function<void(int)> &step) {
    SharedState &s = shared();
    StringList out;
    int done = 0;
    for (const QString &file : files) {
        TableCounts counts;
        const QString name = transfer::unitNameOfFile(file);
        if (label) label(name);
        const bool byId = file.endsWith(QStringLiteral("orv"), Qt::CaseInsensitive);
        QStringList lines;
        // A file that cannot be read gives its name line and the reason.
        QString unreadable;
        cp1251::readLines(file, lines, &unreadable);
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
            if (const CachedTable *t = FindCachedTable(form, r.tablen)) {
                ++counts[t->shape.ident];
                any = true;
            }
        }
        out.add(name);
        if (!unreadable.isEmpty()) out.add(unreadable);
        if (any)
            for (const QString &l : formLines(counts)) out.add(l);
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
