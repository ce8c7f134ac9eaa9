#include "widgets/SumRepF.h"
#include "widgets/DialogParts.h"
#include "engine/TextUtil.h"
#include "platform/Dialogs.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TSumRepF::TSumRepF(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SumRepF"));
    setWindowTitle(QStringLiteral("Сводный отчет"));
    m_ui.nameCaption = new QLabel(QStringLiteral("Наименование"), this);
    m_ui.name = new QLineEdit(this);
    m_ui.name->setObjectName(QStringLiteral("Edit1"));
    m_ui.name->setMinimumWidth(360);
    m_ui.inNet = new QCheckBox(QStringLiteral("Включить в отчет Ф47"), this);
    m_ui.inNet->setObjectName(QStringLiteral("CheckBox1"));
    QHBoxLayout *buttons = dlgparts::okCancelRow(this, m_ui.ok, m_ui.cancel);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(m_ui.nameCaption);
    lay->addWidget(m_ui.name);
    lay->addWidget(m_ui.inNet);
    lay->addLayout(buttons);
}

QString TSumRepF::name() const { return m_ui.name->text(); }
void TSumRepF::setName(const QString &name) { m_ui.name->setText(name); }
bool TSumRepF::inNetReport() const { return m_ui.inNet->isChecked(); }
void TSumRepF::setInNetReport(bool on, bool changeable) {
    m_ui.inNet->setChecked(on);
    m_ui.inNet->setEnabled(changeable);
}
void TSumRepF::hideNetChoice() { m_ui.inNet->hide(); }

void TSumRepF::accept() {
    if (const QString why = text::entryProblem(name(), m_ui.nameCaption->text()); !why.isEmpty()) {
        showMessage(why, this);
        m_ui.name->setFocus();
        return;
    }
    QDialog::accept();
}

void TSumRepF::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}
