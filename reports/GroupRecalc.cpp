#include "reports/GroupRecalc.h"

#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "platform/Errors.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "reports/DialogParts.h"
#include "reports/ReportLogic.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QVBoxLayout>

namespace grouprecalc {

ReportResult recalcReport(qint64 reportId, int year, const Step &step) {
    SharedState &s = shared();
    ReportResult result;
    s.IncludeList = reports::reportMemberList(reportId);
    if (s.IncludeList.isEmpty()) {
        // A report without institutions keeps its values (they may come from
        // a transfer file); summing nothing would wipe them.
        result.noMembers = true;
        return result;
    }
    const QSqlDatabase d = db::connection(db::kData);
    const int count = s.TablesList.count();
    db::transaction(d, [&] {
        for (int t = 0; t < count; ++t) {
            const QString entry = s.TablesList.text(t);
            if (step) step(t, count, entry);
            if (entry.left(3) == QStringLiteral("Ф47")) continue;
            if (t >= s.TablesArray.size()) break;
            const auto &a = s.TablesArray[t];
            const int ident = a[1], colcount = a[2], rowcount = a[3], fixcols = a[4], fixrows = a[5];
            s.DataMatrix.create(fixcols + 1, colcount + 1, fixrows + 1, rowcount + 1);
            QSqlQuery q = db::exec(d,
                                   QStringLiteral("select \"column\", \"row\", data from data where year=? "
                                                  "and \"table\"=? and hospital in (%1)")
                                       .arg(s.IncludeList),
                                   {year, ident});
            while (q.next()) {
                const int c = q.value(0).toInt(), r = q.value(1).toInt();
                if (!s.DataMatrix.contains(c, r)) { ++result.outside; continue; }
                s.DataMatrix.add(c, r, q.value(2).toDouble());
            }
            db::exec(d, QStringLiteral("delete from repdata where year=? and \"table\"=? and hospital=?"),
                     {year, ident, reportId});
            QSqlQuery ins(d);
            ins.prepare(QStringLiteral("insert into repdata (hospital, data, year, \"table\", \"column\", \"row\") "
                                       "values (?, ?, ?, ?, ?, ?)"));
            for (int c = s.DataMatrix.lowColumn(); c <= s.DataMatrix.highColumn(); ++c)
                for (int r = s.DataMatrix.lowRow(); r <= s.DataMatrix.highRow(); ++r) {
                    const double v = s.DataMatrix.at(c, r);
                    if (v == 0) continue;
                    // The stored value is the one a transfer file would carry.
                    ins.addBindValue(reportId);
                    ins.addBindValue(num::general(v).toDouble());
                    ins.addBindValue(year);
                    ins.addBindValue(ident);
                    ins.addBindValue(c);
                    ins.addBindValue(r);
                    if (!ins.exec())
                        throw db::Error(QStringLiteral("Ошибка записи значений отчета: %1")
                                            .arg(ins.lastError().text()));
                    ++result.cells;
                }
            ++result.tables;
        }
    });
    return result;
}

} // namespace grouprecalc

TForm7::TForm7(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Пересчет группы отчетов"));
    Label1 = new QLabel(QStringLiteral("Выберите отчеты"), this);
    CheckListBox1 = new QListWidget(this);
    Label2 = new QLabel(this);
    Label3 = new QLabel(this);
    Label3->setWordWrap(true);
    G = new QProgressBar(this);
    G->setTextVisible(false);
    G->setValue(0);
    BitBtn1 = new QPushButton(QStringLiteral("Пересчитать отчеты"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Выход"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn1);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn2);
    auto *l = new QVBoxLayout(this);
    l->addWidget(Label1);
    l->addWidget(CheckListBox1, 1);
    l->addWidget(Label2);
    l->addWidget(Label3);
    l->addWidget(G);
    l->addLayout(buttons);
    resize(420, 460);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm7::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm7::FormShow() {
    CheckListBox1->clear();
    for (const reports::ReportRow &r : reports::listReports(false)) {
        auto *item = new QListWidgetItem(r.name, CheckListBox1);
        item->setData(Qt::UserRole, r.id);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

void TForm7::BitBtn1Click() {
    winutil::guarded(this, [&] {
        QStringList withoutMembers;
        QStringList outside;
        BitBtn1->setEnabled(false);
        struct Enable {
            QPushButton *b;
            ~Enable() { b->setEnabled(true); }
        } enable{BitBtn1};
        for (int i = 0; i < CheckListBox1->count(); ++i) {
            QListWidgetItem *item = CheckListBox1->item(i);
            if (item->checkState() != Qt::Checked) continue;
            CheckListBox1->setCurrentRow(i);
            Label2->setText(item->text());
            G->setValue(0);
            const grouprecalc::ReportResult r = grouprecalc::recalcReport(
                item->data(Qt::UserRole).toLongLong(), shared().Year, [&](int index, int count, const QString &e) {
                    G->setMaximum(qMax(1, count));
                    G->setValue(index);
                    if (e.left(3) != QStringLiteral("Ф47")) Label3->setText(e);   // skipped tables keep the label
                    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                });
            G->setValue(G->maximum());
            if (r.noMembers) {
                withoutMembers.append(item->text());
                continue;   // stays checked: nothing was recalculated
            }
            if (r.outside > 0) outside.append(item->text());
            item->setCheckState(Qt::Unchecked);
        }
        if (!withoutMembers.isEmpty())
            showWarning(QStringLiteral("Не заданы входящие учреждения, отчеты не пересчитаны: ") +
                            withoutMembers.join(QStringLiteral(", ")),
                        this);
        if (!outside.isEmpty())
            showWarning(QStringLiteral("Значения учреждений вне ячеек таблиц не вошли в отчеты: ") +
                            outside.join(QStringLiteral(", ")),
                        this);
        showMessage(QStringLiteral("Готово!"), this);
    });
}

void TForm7::keyPressEvent(QKeyEvent *event) {
    if (dlgparts::rejectOnEscape(this, event)) return;
    QDialog::keyPressEvent(event);
}

void openGroupRecalc(QWidget *parent) {
    TForm7 w(parent);
    winutil::guarded(&w, [&] {
        w.FormShow();
        execModal(&w);
    });
}
