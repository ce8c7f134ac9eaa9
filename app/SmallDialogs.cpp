#include "app/SmallDialogs.h"
#include "widgets/DialogParts.h"

#include "engine/TextUtil.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"

#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TSBY::TSBY(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SBY"));
    setWindowTitle(QStringLiteral("Выбор базового года"));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setMinimumWidth(220);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(ComboBox1);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(BitBtn1);
    row->addStretch();
    lay->addLayout(row);
}

TSelectConfig::TSelectConfig(const QString &reason, const QStringList &names, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SelectConfig"));
    setWindowTitle(QStringLiteral("Выбор конфигурации"));
    Label1 = new QLabel(reason, this);
    Label1->setWordWrap(true);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems(names);
    ComboBox1->setMinimumWidth(260);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(Label1);
    lay->addWidget(ComboBox1);
    lay->addLayout(dlgparts::okCancelRow(this, BitBtn1, BitBtn2));
}

TGBP::TGBP(const QString &initialFolder, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("GBP"));
    Label1 = new QLabel(QStringLiteral("Название базы данных"), this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Label2 = new QLabel(QStringLiteral("Расположение"), this);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setMinimumWidth(380);
    FolderButton = new QPushButton(QStringLiteral("Папка..."), this);
    FolderButton->setObjectName(QStringLiteral("FolderButton"));
    FileListBox1 = new QListWidget(this);
    FileListBox1->setEnabled(false);
    FileListBox1->setMaximumHeight(120);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn1->setEnabled(false);
    BitBtn2 = new QPushButton(QStringLiteral("Отказ"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));

    connect(Edit1, &QLineEdit::textChanged, this, &TGBP::updateOk);
    connect(Edit2, &QLineEdit::textChanged, this, &TGBP::listFiles);
    connect(FolderButton, &QPushButton::clicked, this, [this] {
        const QString f = dialogs().chooseFolder(this, QStringLiteral("Расположение"), Edit2->text());
        if (!f.isEmpty()) setFolder(f);
    });
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    auto *lay = new QVBoxLayout(this);
    lay->addWidget(Label1);
    lay->addWidget(Edit1);
    lay->addWidget(Label2);
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(Edit2, 1);
    folderRow->addWidget(FolderButton);
    lay->addLayout(folderRow);
    lay->addWidget(FileListBox1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    lay->addLayout(buttons);

    setFolder(initialFolder.isEmpty() ? QDir::currentPath() : initialFolder);
}

void TSBY::setYears(const QStringList &years) { ComboBox1->addItems(years); }
QString TSBY::year() const { return ComboBox1->currentText().trimmed(); }

QString TGBP::name() const { return Edit1->text(); }
QString TGBP::folder() const { return Edit2->text(); }
void TGBP::lockFolder() { Edit2->setEnabled(false); }

void TGBP::setFolder(const QString &folder) {
    Edit2->setText(QDir::toNativeSeparators(paths::withoutSlash(folder)).replace(u'\\', u'/'));
}

void TGBP::updateOk() {
    // With the name hidden there is nothing to wait for.
    BitBtn1->setEnabled(Edit1->isHidden() || !Edit1->text().trimmed().isEmpty());
}

void TGBP::listFiles() {
    FileListBox1->clear();
    const QDir dir(Edit2->text());
    if (!dir.exists()) return;
    QStringList files = dir.entryList({QStringLiteral("*.mdb")}, QDir::Files);
    text::sortNames(files);
    FileListBox1->addItems(files);
}

TAboutForm::TAboutForm(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(400, 250);
    auto *product = new QLabel(QStringLiteral("Kelvana"), this);
    QFont f = product->font();
    f.setPointSize(20);
    f.setBold(true);
    product->setFont(f);
    product->setAlignment(Qt::AlignCenter);
    auto *description = new QLabel(
        QStringLiteral("Программный комплекс формирования и контроля медицинских статистических отчетных форм"), this);
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignCenter);
    auto *version = new QLabel(QStringLiteral("Версия 1.2.1 (2026-01-13)"), this);
    version->setAlignment(Qt::AlignCenter);
    auto *fourth = new QLabel(QStringLiteral("Для органов управления здравоохранением территорий"), this);
    fourth->setWordWrap(true);
    fourth->setAlignment(Qt::AlignCenter);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(product);
    lay->addWidget(description);
    lay->addWidget(version);
    lay->addWidget(fourth);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addStretch();
    lay->addLayout(row);
}
