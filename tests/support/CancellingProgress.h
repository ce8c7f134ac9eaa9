#pragma once
// A progress sink that presses "Отмена" once the gauge reaches a position:
// the run stops at its next step, as with the progress window.
#include "engine/ProgressSink.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

struct CancellingProgress : ProgressSink {
    explicit CancellingProgress(int at) : cancelAt(at) {}
    void setMax(int m) override { max = m; }
    void setPosition(int p) override {
        position = p;
        if (p >= cancelAt) pressed = true;
    }
    void setStatusText(const QString &) override {}
    void setDetailText(const QString &) override {}
    bool cancelled() const override { return pressed; }

    int cancelAt;
    int max = -1;
    int position = -1;
    bool pressed = false;
};

// Every row of a values table, in a fixed order, to compare before and after a run.
inline QStringList valueRows(const QSqlDatabase &d, const QString &table = QStringLiteral("data")) {
    QStringList out;
    QSqlQuery q(d);
    q.exec(QStringLiteral("select hospital, year, \"table\", \"column\", \"row\", data from %1 "
                          "order by hospital, year, \"table\", \"column\", \"row\"").arg(table));
    while (q.next())
        out.append(QStringLiteral("%1|%2|%3|%4|%5|%6").arg(q.value(0).toString(), q.value(1).toString(),
                                                          q.value(2).toString(), q.value(3).toString(),
                                                          q.value(4).toString(), q.value(5).toString()));
    return out;
}
