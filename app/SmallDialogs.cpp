#include "app/SmallDialogs.h"
#include "widgets/AbcComboBox.h"
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
    m_ui.prompt = new QLabel(this);
    m_ui.prompt->setWordWrap(true);
    m_ui.prompt->hide();
    m_ui.choice = new QComboBox(this);
    m_ui.choice->setObjectName(QStringLiteral("ComboBox1"));
    m_ui.choice->setEditable(true);
    m_ui.choice->setMinimumWidth(220);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.ok->setObjectName(QStringLiteral("BitBtn1"));
    m_ui.ok->setDefault(true);
    connect(m_ui.ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(m_ui.prompt);
    lay->addWidget(m_ui.choice);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(m_ui.ok);
    row->addStretch();
    lay->addLayout(row);
}

TSelectConfig::TSelectConfig(const QString &reason, const QStringList &names, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SelectConfig"));
    setWindowTitle(QStringLiteral("Выбор конфигурации"));
    m_ui.reason = new QLabel(reason, this);
    m_ui.reason->setWordWrap(true);
    // A name too long for the window is shortened, and whole in the list's tip.
    m_ui.choice = new TabcLRComboBox(this);
    m_ui.choice->setObjectName(QStringLiteral("ComboBox1"));
    m_ui.choice->addItems(names);
    m_ui.choice->setMinimumWidth(260);
    auto *lay = new QVBoxLayout(this);
    lay->addWidget(m_ui.reason);
    lay->addWidget(m_ui.choice);
    lay->addLayout(dlgparts::okCancelRow(this, m_ui.ok, m_ui.cancel));
}

TGBP::TGBP(const QString &initialFolder, QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("GBP"));
    m_ui.nameCaption = new QLabel(QStringLiteral("Название базы данных"), this);
    m_ui.name = new QLineEdit(this);
    m_ui.name->setObjectName(QStringLiteral("Edit1"));
    m_ui.folderCaption = new QLabel(QStringLiteral("Расположение"), this);
    m_ui.folder = new QLineEdit(this);
    m_ui.folder->setObjectName(QStringLiteral("Edit2"));
    m_ui.folder->setMinimumWidth(380);
    m_ui.folderButton = new QPushButton(QStringLiteral("Папка..."), this);
    m_ui.folderButton->setObjectName(QStringLiteral("FolderButton"));
    m_ui.files = new QListWidget(this);
    m_ui.files->setEnabled(false);
    m_ui.files->setMaximumHeight(120);
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.ok->setObjectName(QStringLiteral("BitBtn1"));
    m_ui.ok->setDefault(true);
    m_ui.ok->setEnabled(false);
    m_ui.cancel = new QPushButton(QStringLiteral("Отказ"), this);
    m_ui.cancel->setObjectName(QStringLiteral("BitBtn2"));

    connect(m_ui.name, &QLineEdit::textChanged, this, &TGBP::updateOk);
    connect(m_ui.folder, &QLineEdit::textChanged, this, &TGBP::listFiles);
    connect(m_ui.folderButton, &QPushButton::clicked, this, [this] {
        const QString f = dialogs().chooseFolder(this, QStringLiteral("Расположение"), m_ui.folder->text());
        if (!f.isEmpty()) setFolder(f);
    });
    connect(m_ui.ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *lay = new QVBoxLayout(this);
    lay->addWidget(m_ui.nameCaption);
    lay->addWidget(m_ui.name);
    lay->addWidget(m_ui.folderCaption);
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_ui.folder, 1);
    folderRow->addWidget(m_ui.folderButton);
    lay->addLayout(folderRow);
    lay->addWidget(m_ui.files);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ui.ok);
    buttons->addWidget(m_ui.cancel);
    lay->addLayout(buttons);

    setFolder(initialFolder.isEmpty() ? QDir::currentPath() : initialFolder);
}

int TSelectConfig::chosenIndex() const { return m_ui.choice->currentIndex(); }
QString TSelectConfig::reasonText() const { return m_ui.reason->text(); }

void TSBY::setYears(const QStringList &years) { m_ui.choice->addItems(years); }
void TSBY::setPrompt(const QString &text) {
    m_ui.prompt->setText(text + QLatin1Char(':'));
    m_ui.prompt->setVisible(!text.isEmpty());
}
QString TSBY::year() const { return m_ui.choice->currentText().trimmed(); }

QString TGBP::name() const { return m_ui.name->text(); }
QString TGBP::folder() const { return m_ui.folder->text(); }
void TGBP::lockFolder() { m_ui.folder->setEnabled(false); }

void TGBP::setFolder(const QString &folder) {
    m_ui.folder->setText(QDir::toNativeSeparators(paths::withoutSlash(folder)).replace(u'\\', u'/'));
}

void TGBP::updateOk() {
    // With the name hidden there is nothing to wait for.
    m_ui.ok->setEnabled(m_ui.name->isHidden() || !m_ui.name->text().trimmed().isEmpty());
}

void TGBP::listFiles() {
    m_ui.files->clear();
    const QDir dir(m_ui.folder->text());
    if (!dir.exists()) return;
    QStringList files = dir.entryList({QStringLiteral("*.mdb")}, QDir::Files);
    text::sortNames(files);
    m_ui.files->addItems(files);
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
