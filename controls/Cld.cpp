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
    m_ui.folderLabel = new QLabel(this);
    m_ui.folderLabel->setWordWrap(true);
    left->addWidget(m_ui.folderLabel);
    m_dirs = new QFileSystemModel(this);
    m_dirs->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_dirs->setRootPath(QDir::rootPath());
    m_ui.folders = new QTreeView(this);
    m_ui.folders->setModel(m_dirs);
    for (int c = 1; c < m_dirs->columnCount(); ++c) m_ui.folders->hideColumn(c);
    m_ui.folders->header()->hide();
    left->addWidget(m_ui.folders, 1);
    auto *right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Выберите файл контролей"), this));
    m_ui.files = new QListWidget(this);
    right->addWidget(m_ui.files, 1);
    lists->addLayout(left, 3);
    lists->addLayout(right, 2);
    top->addLayout(lists, 1);

    m_ui.modeBox = new QGroupBox(QStringLiteral("Режим"), this);
    auto *rl = new QVBoxLayout(m_ui.modeBox);
    m_ui.modes = new QButtonGroup(m_ui.modeBox);
    const QStringList modes = {QStringLiteral("Подгрузка (существующие контроли сохраняются)"),
                               QStringLiteral("Замещение (существующие контроли удаляются)")};
    for (int i = 0; i < modes.size(); ++i) {
        auto *b = new QRadioButton(modes[i], m_ui.modeBox);
        m_ui.modes->addButton(b, i);
        rl->addWidget(b);
    }
    m_ui.modes->button(0)->setChecked(true);
    top->addWidget(m_ui.modeBox);
    m_ui.loadRules = new QPushButton(QStringLiteral("Загрузить контроли"), this);
    m_ui.loadRules->setAutoDefault(false);
    m_ui.loadRules->setEnabled(false);
    top->addWidget(m_ui.loadRules, 0, Qt::AlignRight);

    connect(m_ui.folders->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &index) {
                if (index.isValid()) setFolder(m_dirs->filePath(index));
            });
    connect(m_ui.files, &QListWidget::currentRowChanged, this, [this] { takeChosenFile(); });
    connect(m_ui.loadRules, &QPushButton::clicked, this, [this] { winutil::guarded(this, [&] { loadChosenFile(); }); });
    resize(720, 480);
    const QString start = shared().ConfigPath.isEmpty() ? paths::programFolder() : shared().ConfigPath;
    setFolder(start);
}

void TCld::setFolder(const QString &folder) {
    const QString clean = QDir::cleanPath(folder);
    if (clean == m_folder) return;
    m_folder = clean;
    m_ui.folderLabel->setText(QDir::toNativeSeparators(clean));
    const QModelIndex index = m_dirs->index(clean);
    if (index.isValid() && m_ui.folders->currentIndex() != index) {
        m_ui.folders->setCurrentIndex(index);
        m_ui.folders->scrollTo(index);
    }
    listFolderFiles();
}

void TCld::listFolderFiles() {
    m_ui.files->clear();
    QStringList files =
        QDir(m_folder).entryList({QStringLiteral("*.orv"), QStringLiteral("*.ORV")}, QDir::Files, QDir::Name);
    text::sortNames(files);
    m_ui.files->addItems(files);
    if (m_ui.files->count() > 0) m_ui.files->setCurrentRow(0);
    takeChosenFile();
}

void TCld::takeChosenFile() { m_ui.loadRules->setEnabled(!chosenFile().isEmpty()); }

QString TCld::chosenFile() const {
    const QListWidgetItem *i = m_ui.files->currentItem();
    if (!i || i->text().isEmpty()) return QString();
    return m_folder + u'/' + i->text();
}

void TCld::loadChosenFile() {
    const QString path = chosenFile();
    if (path.isEmpty()) return;
    const LoadMode mode = m_ui.modes->checkedId() == 1 ? LoadMode::Replace : LoadMode::Append;
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
    showMessage(QStringLiteral("Загрузка контролей закончена!\r\nЗагружено контролей: %1.\r\n"
                               "Уже были в базе (совпадают во всех полях) и не загружены повторно: %2.")
                    .arg(r.inserted)
                    .arg(r.alreadyStored),
                this);
    if (!r.rejects.isEmpty())
        showMessage(QStringLiteral("Обнаружены контроли, не согласующиеся с Вашей структурой форм!\r\n"
                                   "См. файл \"Несогласованные контроли\""),
                    this);
    if (!r.rejectsError.isEmpty()) showError(r.rejectsError, this);
    listFolderFiles();   // the rejects file joins the list
}
