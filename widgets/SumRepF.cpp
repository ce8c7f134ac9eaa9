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
    Label1 = new QLabel(QStringLiteral("Наименование"), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMinimumWidth(360);
    CheckBox1 = new QCheckBox(QStringLiteral("Включить в отчет Ф47"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    QHBoxLayout *buttons = dlgparts::okCancelRow(this, BitBtn1, BitBtn2);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(Label1);
    lay->addWidget(Edit1);
    lay->addWidget(CheckBox1);
    lay->addLayout(buttons);
}

QString TSumRepF::name() const { return Edit1->text(); }
void TSumRepF::setName(const QString &name) { Edit1->setText(name); }
bool TSumRepF::inNetReport() const { return CheckBox1->isChecked(); }
void TSumRepF::setInNetReport(bool on, bool changeable) {
    CheckBox1->setChecked(on);
    CheckBox1->setEnabled(changeable);
}
void TSumRepF::hideNetChoice() { CheckBox1->hide(); }

void TSumRepF::accept() {
    if (const QString why = text::entryProblem(name(), Label1->text()); !why.isEmpty()) {
        showMessage(why, this);
        Edit1->setFocus();
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
