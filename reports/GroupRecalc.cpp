#include "reports/GroupRecalc.h"
#include "engine/CellNumbering.h"

#include "engine/SummaryMembers.h"
#include "engine/TextUtil.h"
#include "engine/ValueMatrix.h"
#include "engine/NumberFormat.h"
#include "core/ProgressWindow.h"
#include "engine/SharedState.h"
#include "engine/TableShape.h"
#include "engine/TableValues.h"
#include "forms/shared/FormListCommon.h"
#include "platform/Errors.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "widgets/DialogParts.h"
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
#include <optional>

namespace grouprecalc {

ReportResult recalcReport(qint64 reportId, int year, const Step &step) {
    const SharedState &s = shared();
    ReportResult result;
    const SummaryMembers resolved = ResolveMembers(MemberKind::Institutions, reports::storedInclude(reportId));
    result.unresolved = resolved.unresolved;
    if (resolved.isEmpty()) {
        // A report without institutions keeps its values (they may come from
        // a transfer file); summing nothing would wipe them.
        result.noMembers = true;
        return result;
    }
    const QString members = db::inList(resolved.ids);
    const QSqlDatabase d = db::connection(db::kData);
    const QList<CachedTable> tables = s.Caches.tables;
    const int count = int(tables.size());
    db::transaction(d, [&] {
        for (int t = 0; t < count; ++t) {
            const QString entry = tables[t].caption();
            if (step) step(t, count, entry);
            if (entry.left(3) == QStringLiteral("Ф47")) continue;
            const TableShape *shape = &tables[t].shape;
            const int ident = int(shape->ident), colcount = shape->colcount, rowcount = shape->rowcount,
                      fixcols = shape->fixcols, fixrows = shape->fixrows;
            ValueMatrix m;
            m.create(cells::storedOfStruct(fixcols), cells::storedOfStruct(colcount), cells::storedOfStruct(fixrows),
                     cells::storedOfStruct(rowcount));
            db::readNumbers(d,
                            QStringLiteral("select \"column\", \"row\", data from %1 where year=? "
                                           "and \"table\"=? and hospital in (%2)")
                                .arg(ValueTableName(ValueTable::Data), members),
                            {year, ident}, 3, [&](const double *f) {
                                const int c = int(f[0]), r = int(f[1]);
                                if (!m.contains(c, r)) {
                                    ++result.outside;
                                    return;
                                }
                                m.add(c, r, f[2]);
                            });
            TableValueWriter writer(d, ValueTable::RepData, reportId, year, ident);
            for (int c = m.lowColumn(); c <= m.highColumn(); ++c)
                for (int r = m.lowRow(); r <= m.highRow(); ++r)
                    if (writer.write(c, r, m.at(c, r))) ++result.cells;
            ++result.tables;
        }
    });
    return result;
}

} // namespace grouprecalc

TForm7::TForm7(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Пересчет группы отчетов"));
    m_ui.prompt = new QLabel(QStringLiteral("Выберите отчеты"), this);
    m_ui.reports = new QListWidget(this);
    m_ui.report = new QLabel(this);
    m_ui.table = new QLabel(this);
    m_ui.table->setWordWrap(true);
    m_ui.progress = new QProgressBar(this);
    m_ui.progress->setTextVisible(false);
    m_ui.progress->setValue(0);
    m_ui.recalculate = new QPushButton(QStringLiteral("Пересчитать отчеты"), this);
    m_ui.exit = new QPushButton(QStringLiteral("Выход"), this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_ui.recalculate);
    buttons->addStretch(1);
    buttons->addWidget(m_ui.exit);
    auto *l = new QVBoxLayout(this);
    l->addWidget(m_ui.prompt);
    l->addWidget(m_ui.reports, 1);
    l->addWidget(m_ui.report);
    l->addWidget(m_ui.table);
    l->addWidget(m_ui.progress);
    l->addLayout(buttons);
    resize(420, 460);
    connect(m_ui.recalculate, &QPushButton::clicked, this, &TForm7::recalculateChecked);
    connect(m_ui.exit, &QPushButton::clicked, this, &QDialog::reject);
    FormShow();
}

QString TForm7::reportCaption() const { return m_ui.report->text(); }

void TForm7::FormShow() {
    m_ui.reports->clear();
    for (const reports::ReportRow &r : reports::listReports(false)) {
        auto *item = new QListWidgetItem(r.name, m_ui.reports);
        item->setData(Qt::UserRole, r.id);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

void TForm7::recalculateChecked() {
    winutil::guarded(this, [&] {
        QStringList withoutMembers;
        QStringList outside;
        QStringList unresolved;
        QList<QListWidgetItem *> done;
        m_ui.recalculate->setEnabled(false);
        struct Enable {
            QPushButton *b;
            ~Enable() { b->setEnabled(true); }
        } enable{m_ui.recalculate};
        // The reports in one transaction: "Отмена" leaves every report as it was.
        std::optional<ProgressRun> run(std::in_place, QStringLiteral("Пересчет группы отчетов"));
        TProgress &progress = run->window();
        // Long reads and the commit keep the window painting.
        std::optional<PolledConnection> polled(std::in_place, progress, db::connection(db::kData));
        polled->run([&] { db::transaction(db::connection(db::kData), [&] {
            for (int i = 0; i < m_ui.reports->count(); ++i) {
                QListWidgetItem *item = m_ui.reports->item(i);
                if (item->checkState() != Qt::Checked) continue;
                m_ui.reports->setCurrentRow(i);
                m_ui.report->setText(item->text());
                progress.setStatusText(item->text());
                m_ui.progress->setValue(0);
                const grouprecalc::ReportResult r = grouprecalc::recalcReport(
                    item->data(Qt::UserRole).toLongLong(), shared().Year, [&](int index, int count, const QString &e) {
                        m_ui.progress->setMaximum(qMax(1, count));
                        m_ui.progress->setValue(index);
                        if (e.left(3) != QStringLiteral("Ф47")) m_ui.table->setText(e);   // skipped tables keep the label
                        progress.setMax(count);
                        progress.setDetailText(e);
                        progress.setPosition(index);
                        progress.checkCancelled();
                    });
                m_ui.progress->setValue(m_ui.progress->maximum());
                const QString codes = QStringLiteral(" (коды: ") +
                                      text::joinIdList(r.unresolved).replace(u',', QStringLiteral(", ")) +
                                      QLatin1Char(')');
                if (r.noMembers) {
                    withoutMembers.append(item->text() + (r.unresolved.isEmpty() ? QString() : codes));
                    continue;   // stays checked: nothing was recalculated
                }
                if (!r.unresolved.isEmpty()) unresolved.append(item->text() + codes);
                if (r.outside > 0) outside.append(item->text());
                done.append(item);
            }
        }); });
        polled.reset();
        run.reset();
        for (QListWidgetItem *item : done) item->setCheckState(Qt::Unchecked);
        if (!withoutMembers.isEmpty())
            showWarning(QStringLiteral("Не заданы входящие учреждения, отчеты не пересчитаны, сохраненные значения не "
                                       "изменены: ") +
                            withoutMembers.join(QStringLiteral(", ")),
                        this);
        if (!unresolved.isEmpty())
            showWarning(QStringLiteral("Не найдены и не учтены входящие учреждения отчетов: ") +
                            unresolved.join(QStringLiteral(", ")),
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
    winutil::guarded(parent, [&] {
        TForm7 w(parent);
        execModal(&w);
    });
}
