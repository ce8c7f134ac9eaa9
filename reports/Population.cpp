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
    MaskEdit1 = makeEdit();
    MaskEdit2 = makeEdit();
    MaskEdit3 = makeEdit();
    MaskEdit4 = makeEdit();
    Button1 = new QPushButton(QStringLiteral("Подсчитать по учреждениям"), this);
    Button2 = new QPushButton(QStringLiteral("Восстановить"), this);
    Button3 = new QPushButton(QStringLiteral("Подсчитать по вход. отчетам"), this);
    Button3->setVisible(false);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setDefault(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Всего"), MaskEdit1);
    form->addRow(QStringLiteral("Взрослые"), MaskEdit2);
    form->addRow(QStringLiteral("Подростки"), MaskEdit3);
    form->addRow(QStringLiteral("Дети"), MaskEdit4);
    auto *side = new QVBoxLayout;
    side->addWidget(Button1);
    side->addWidget(Button3);
    side->addWidget(Button2);
    side->addStretch(1);
    side->addWidget(BitBtn1);
    auto *l = new QHBoxLayout(this);
    l->addLayout(form, 1);
    l->addLayout(side);
    winutil::fitToScreen(this, QSize(440, 180));

    connect(Button1, &QPushButton::clicked, this, &TPopform::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TPopform::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TPopform::Button3Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TPopform::BitBtn1Click);
}

void TPopform::FormShow() {
    const auto p = reports::readPopulation(m_id, shared().Year);
    m_exists = p.has_value();
    const reports::Population v = p.value_or(reports::Population{});
    MaskEdit1->setText(v.common);
    MaskEdit2->setText(v.olds);
    MaskEdit3->setText(v.teens);
    MaskEdit4->setText(v.childs);
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
    MaskEdit1->setText(p.common);
    MaskEdit2->setText(p.olds);
    MaskEdit3->setText(p.teens);
    MaskEdit4->setText(p.childs);
}

void TPopform::Button1Click() {
    winutil::guarded(this, [&] {
        showCounts(reports::countByInstitutions(m_id, shared().Year));
    });
}

void TPopform::Button2Click() {
    winutil::guarded(this, [&] { FormShow(); });
}

void TPopform::Button3Click() {
    winutil::guarded(this, [&] {
        const auto p = reports::countByReports(m_id, shared().Year);
        if (!p) {
            showMessage(QStringLiteral("Не задан список входящих отчетов"), this);
            return;
        }
        showCounts(*p);
    });
}

void TPopform::BitBtn1Click() {
    winutil::guarded(this, [&] {
        reports::savePopulation(m_id, shared().Year,
                                reports::Population{MaskEdit1->text(), MaskEdit2->text(), MaskEdit3->text(),
                                                    MaskEdit4->text()});
        accept();
    });
}

void TPopform::keyPressEvent(QKeyEvent *event) {
    if (dlgparts::rejectOnEscape(this, event)) return;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        BitBtn1Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool editReportPopulation(QWidget *parent, qint64 reportId, const QString &reportName) {
    TPopform w(reportId, reportName, parent);
    w.FormShow();
    return execModal(&w) == QDialog::Accepted;
}
