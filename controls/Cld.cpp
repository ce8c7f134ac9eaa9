#include "controls/Cld.h"

#include "controls/ControlFile.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "forms/shared/FormListCommon.h"
#include "platform/Errors.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QVBoxLayout>

using namespace controls;

TCld::TCld(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Cld"));
    setWindowTitle(QStringLiteral("Загрузка контролей системы \"Kelvana\""));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    setFont(f);
    auto *top = new QVBoxLayout(this);
    auto *lists = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Укажите расположение файла контролей"), this));
    Label3 = new QLabel(this);
    Label3->setWordWrap(true);
    left->addWidget(Label3);
    m_dirs = new QFileSystemModel(this);
    m_dirs->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_dirs->setRootPath(QDir::rootPath());
    DirectoryListBox1 = new QTreeView(this);
    DirectoryListBox1->setModel(m_dirs);
    for (int c = 1; c < m_dirs->columnCount(); ++c) DirectoryListBox1->hideColumn(c);
    DirectoryListBox1->header()->hide();
    left->addWidget(DirectoryListBox1, 1);
    auto *right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Выберите файл контролей"), this));
    FileListBox1 = new QListWidget(this);
    right->addWidget(FileListBox1, 1);
    lists->addLayout(left, 3);
    lists->addLayout(right, 2);
    top->addLayout(lists, 1);

    RadioGroup1 = new QGroupBox(QStringLiteral("Режим"), this);
    auto *rl = new QVBoxLayout(RadioGroup1);
    RadioGroup1Buttons = new QButtonGroup(RadioGroup1);
    const QStringList modes = {QStringLiteral("Подгрузка (существующие контроли сохраняются)"),
                               QStringLiteral("Замещение (существующие контроли удаляются)")};
    for (int i = 0; i < modes.size(); ++i) {
        auto *b = new QRadioButton(modes[i], RadioGroup1);
        RadioGroup1Buttons->addButton(b, i);
        rl->addWidget(b);
    }
    RadioGroup1Buttons->button(0)->setChecked(true);
    top->addWidget(RadioGroup1);
    Button1 = new QPushButton(QStringLiteral("Загрузить контроли"), this);
    Button1->setAutoDefault(false);
    Button1->setEnabled(false);
    top->addWidget(Button1, 0, Qt::AlignRight);

    connect(DirectoryListBox1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &index) {
                if (index.isValid()) setFolder(m_dirs->filePath(index));
            });
    connect(FileListBox1, &QListWidget::currentRowChanged, this, [this] { FileListBox1Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { winutil::guarded(this, [&] { Button1Click(); }); });
    resize(720, 480);
    const QString start = shared().ConfigPath.isEmpty() ? paths::programFolder() : shared().ConfigPath;
    setFolder(start);
}

void TCld::setFolder(const QString &folder) {
    const QString clean = QDir::cleanPath(folder);
    if (clean == m_folder) return;
    m_folder = clean;
    Label3->setText(QDir::toNativeSeparators(clean));
    const QModelIndex index = m_dirs->index(clean);
    if (index.isValid() && DirectoryListBox1->currentIndex() != index) {
        DirectoryListBox1->setCurrentIndex(index);
        DirectoryListBox1->scrollTo(index);
    }
    DirectoryListBox1Change();
}

void TCld::DirectoryListBox1Change() {
    FileListBox1->clear();
    QStringList files =
        QDir(m_folder).entryList({QStringLiteral("*.orv"), QStringLiteral("*.ORV")}, QDir::Files, QDir::Name);
    text::sortNames(files);
    FileListBox1->addItems(files);
    if (FileListBox1->count() > 0) FileListBox1->setCurrentRow(0);
    FileListBox1Click();
}

void TCld::FileListBox1Click() { Button1->setEnabled(!chosenFile().isEmpty()); }

QString TCld::chosenFile() const {
    const QListWidgetItem *i = FileListBox1->currentItem();
    if (!i || i->text().isEmpty()) return QString();
    return m_folder + u'/' + i->text();
}

void TCld::Button1Click() {
    const QString path = chosenFile();
    if (path.isEmpty()) return;
    const LoadMode mode = RadioGroup1Buttons->checkedId() == 1 ? LoadMode::Replace : LoadMode::Append;
    LoadResult r;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        r = LoadControlFile(db::connection(db::kMain), path, mode, [this](const QString &m) {
            QApplication::restoreOverrideCursor();
            showError(m, this);
            QApplication::setOverrideCursor(Qt::WaitCursor);
        });
    } catch (...) {
        QApplication::restoreOverrideCursor();
        throw;
    }
    QApplication::restoreOverrideCursor();
    showMessage(QStringLiteral("Загрузка контролей закончена!"), this);
    if (!r.rejects.isEmpty())
        showMessage(QStringLiteral("Обнаружены контроли, не согласующиеся с Вашей структурой форм!\r\n"
                                   "См. файл \"Несогласованные контроли\""),
                    this);
    if (!r.rejectsError.isEmpty()) showError(r.rejectsError, this);
    DirectoryListBox1Change();   // the rejects file joins the list
}
