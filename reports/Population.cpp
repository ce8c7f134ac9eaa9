#include "reports/Population.h"

#include "engine/SharedState.h"
#include "platform/Errors.h"
#include "widgets/WindowLayout.h"
#include "platform/Dialogs.h"
#include "widgets/DialogParts.h"
#include "reports/ReportLogic.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

TPopform::TPopform(qint64 reportId, const QString &reportName, QWidget *parent) : QDialog(parent), m_id(reportId) {
    setWindowTitle(reportName);
    auto makeEdit = [this] {
        auto *e = new QLineEdit(this);
        e->setMaxLength(7);
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,7}")), e));
        e->setAlignment(Qt::AlignRight);
        return e;
    };
    m_ui.total = makeEdit();
    m_ui.adults = makeEdit();
    m_ui.teenagers = makeEdit();
    m_ui.children = makeEdit();
    m_ui.countByInstitutions = new QPushButton(QStringLiteral("Подсчитать по учреждениям"), this);
    m_ui.restore = new QPushButton(QStringLiteral("Восстановить"), this);
    m_ui.countByReports = new QPushButton(QStringLiteral("Подсчитать по вход. отчетам"), this);
    m_ui.countByReports->setVisible(false);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.ok->setDefault(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Всего"), m_ui.total);
    form->addRow(QStringLiteral("Взрослые"), m_ui.adults);
    form->addRow(QStringLiteral("Подростки"), m_ui.teenagers);
    form->addRow(QStringLiteral("Дети"), m_ui.children);
    auto *side = new QVBoxLayout;
    side->addWidget(m_ui.countByInstitutions);
    side->addWidget(m_ui.countByReports);
    side->addWidget(m_ui.restore);
    side->addStretch(1);
    side->addWidget(m_ui.ok);
    auto *l = new QHBoxLayout(this);
    l->addLayout(form, 1);
    l->addLayout(side);
    winutil::fitToScreen(this, QSize(440, 180));

    connect(m_ui.countByInstitutions, &QPushButton::clicked, this, &TPopform::countFromInstitutions);
    connect(m_ui.restore, &QPushButton::clicked, this, &TPopform::restoreStored);
    connect(m_ui.countByReports, &QPushButton::clicked, this, &TPopform::countFromMemberReports);
    connect(m_ui.ok, &QPushButton::clicked, this, &TPopform::storeCounts);
    FormShow();
}

void TPopform::FormShow() {
    const auto p = reports::readPopulation(m_id, shared().Year);
    m_exists = p.has_value();
    const reports::Population v = p.value_or(reports::Population{});
    m_ui.total->setText(v.common);
    m_ui.adults->setText(v.olds);
    m_ui.teenagers->setText(v.teens);
    m_ui.children->setText(v.childs);
}

void TPopform::showCounts(const reports::Population &p) {
    // The edits hold seven digits: a longer sum would be cut to a wrong number.
    const QStringList counts{p.common, p.olds, p.teens, p.childs};
    for (const QString &c : counts)
        if (c.size() > 7) {
            showError(QStringLiteral("Сумма населения (%1) не помещается в поле из 7 цифр. "
                                     "Значения не изменены.").arg(c),
                      this);
            return;
        }
    m_ui.total->setText(p.common);
    m_ui.adults->setText(p.olds);
    m_ui.teenagers->setText(p.teens);
    m_ui.children->setText(p.childs);
}

void TPopform::countFromInstitutions() {
    winutil::guarded(this, [&] {
        showCounts(reports::countByInstitutions(m_id, shared().Year));
    });
}

void TPopform::restoreStored() {
    winutil::guarded(this, [&] { FormShow(); });
}

void TPopform::countFromMemberReports() {
    winutil::guarded(this, [&] {
        const auto p = reports::countByReports(m_id, shared().Year);
        if (!p) {
            showMessage(QStringLiteral("Не задан список входящих отчетов"), this);
            return;
        }
        showCounts(*p);
    });
}

void TPopform::storeCounts() {
    winutil::guarded(this, [&] {
        reports::savePopulation(m_id, shared().Year,
                                reports::Population{m_ui.total->text(), m_ui.adults->text(), m_ui.teenagers->text(),
                                                    m_ui.children->text()});
        accept();
    });
}

void TPopform::keyPressEvent(QKeyEvent *event) {
    if (dlgparts::rejectOnEscape(this, event)) return;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        storeCounts();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool editReportPopulation(QWidget *parent, qint64 reportId, const QString &reportName) {
    TPopform w(reportId, reportName, parent);
    return execModal(&w) == QDialog::Accepted;
}
