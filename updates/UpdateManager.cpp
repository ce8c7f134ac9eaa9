#include "updates/UpdateManager.h"

#include "engine/SharedState.h"
#include "core/ProgressWindow.h"
#include "platform/Errors.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdateSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSqlQuery>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kAvailable = QStringLiteral("Доступно");
const QString kInstalled = QStringLiteral("Установлено");
constexpr int kStatusColumn = 4;

void pump() { QCoreApplication::processEvents(); }

// A download shown in the progress window of run; "Отмена" stops it and sets
// stopped, so that the caller can tell a cancel from a failure.
DownloadProgressEvent shownIn(ProgressRun &run, bool &stopped) {
    run.window().setMax(100);
    return [&run, &stopped](qint64 done, qint64 total) {
        if (total > 0) run.window().setPosition(int(std::min<qint64>(99, done * 100 / total)));
        stopped = run.window().cancelled();
        return !stopped;
    };
}

// A form name list as one comma-separated text; names with a blank, a comma
// or a double quote are quoted.
QString joinNames(const QStringList &names) {
    QStringList out;
    for (QString n : names) {
        if (n.contains(QLatin1Char(' ')) || n.contains(QLatin1Char(',')) || n.contains(QLatin1Char('"')))
            n = QLatin1Char('"') + n.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        out << n;
    }
    return out.join(QLatin1Char(','));
}

// The failure's reason under its caption; the log's name when none is known.
QString withReason(const QString &caption, const QString &reason) {
    return reason.isEmpty() ? caption + QStringLiteral(" Проверьте логи.") : caption + QStringLiteral("\r\n") + reason;
}

// The update installed for the manager's configuration and year (ids are
// compared as the server's list is).
bool isInstalled(const TUpdateManager &m, const QString &id) {
    return GetInstalledUpdateIds(m).contains(id, Qt::CaseInsensitive);
}

// Why no list of updates came: the connection only when that is what failed.
QString listFailure(const QString &reason) {
    return reason.isEmpty() ? QStringLiteral("Сервер обновлений недоступен. Проверьте подключение к интернету.")
                            : reason;
}

} // namespace

// ---- manager ----------------------------------------------------------------

TUpdateManager::TUpdateManager(const QSqlDatabase &database, int year, const QString &serverUrl,
                               const QString &tempDir)
    : Database(database), Year(year), ServerUrl(serverUrl), TempDir(IncludeTrailingPathSlash(tempDir)) {
    EnsureUpdateTables(Database);
    InitUpdateLogger(TempDir);
    FinishInterruptedUpdates(Database);
}

QString TUpdateManager::archivePath(const QString &id) const { return TempDir + id + QStringLiteral(".zip"); }
QString TUpdateManager::unpackedFolder(const QString &id) const { return TempDir + id + QStringLiteral("_extracted"); }
QString TUpdateManager::backupFolder(const QString &id) const {
    // Two configurations of one year each keep their own: a backup under the
    // program folder would be shared, and one configuration's rollback would
    // bring back the other's forms.
    const QString folder = DatabaseFolder(Database);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("Backup/") + id;
}

QStringList GetInstalledUpdateIds(const TUpdateManager &m) {
    QStringList ids;
    if (!DatabaseReady(m.Database))
        return ids;
    for (const QVariant &v : db::column(m.Database,
                                        QStringLiteral("SELECT update_id FROM updates WHERE year=? AND status='installed'"),
                                        {m.Year}))
        ids << v.toString();
    return ids;
}

std::unique_ptr<TUpdatesList> TUpdateManager::CheckForUpdates(bool includeInstalled) {
    try {
        const QStringList ids = GetInstalledUpdateIds(*this);
        Message.clear();
        auto list = CheckForUpdatesList(ServerUrl, Year, TempDir, includeInstalled ? nullptr : &ids, Progress, &Message);
        if (list)
            LogInfo(QStringLiteral("Проверка обновлений завершена. Найдено: ") + QString::number(list->items.size()));
        else
            LogWarning(QStringLiteral("Не удалось загрузить список обновлений"));
        return list;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при проверке обновлений: ") + winutil::errorText(e));
        Message = winutil::errorText(e);
        return nullptr;
    }
}

bool TUpdateManager::InstallUpdate(const QString &id, const QString &url, const QString &checksum) {
    UpdateEntry e;
    e.id = id;
    e.downloadUrl = url;
    e.checksum = checksum;
    return InstallUpdate(e);
}

bool TUpdateManager::InstallUpdate(const UpdateEntry &entry) {
    Message.clear();
    const QString &id = entry.id;
    const QString &url = entry.downloadUrl;
    const QString &checksum = entry.checksum;
    const QString archive = archivePath(id);
    bool result = false;
    try {
        LogInfo(QStringLiteral("Начата установка обновления: ") + id);
        // The id names the archive and two folders; the folder of an earlier
        // attempt is deleted, so an id must not lead out of them.
        if (!IsSafeFileName(id)) {
            LogError(QStringLiteral("Недопустимый идентификатор обновления: ") + id);
            return false;
        }
        const QString unpacked = unpackedFolder(id);
        const QString backup = backupFolder(id);
        if (!DatabaseReady(Database) || backup.isEmpty()) {
            LogError(QStringLiteral("База данных не подключена"));
            Message = QStringLiteral("База данных не подключена");
            return false;
        }
        // The backup of an installed update holds the state before it; a
        // second install would overwrite it with the updated forms.
        if (isInstalled(*this, id)) {
            LogError(QStringLiteral("Обновление уже установлено: ") + id);
            Message = QStringLiteral("Обновление %1 уже установлено.").arg(entry.version.isEmpty() ? id : entry.version);
            return false;
        }
        // A folder left by an earlier attempt must not mix its files in; the
        // backup of an attempt that changed nothing, or of an install since
        // rolled back, describes the present state no longer than now.
        QDir(unpacked).removeRecursively();
        QDir(backup).removeRecursively();
        ForceDirectoryPath(unpacked);
        ForceDirectoryPath(backup);
        do {
            LogInfo(QStringLiteral("Загрузка архива обновления..."));
            if (!DownloadUpdateArchive(url, archive, Progress, &Message)) {
                LogError(QStringLiteral("Ошибка при загрузке архива обновления"));
                break;
            }
            LogInfo(QStringLiteral("Проверка контрольной суммы..."));
            if (!VerifyArchiveChecksum(archive, checksum)) {
                LogError(QStringLiteral("Контрольная сумма архива не совпадает"));
                Message = QStringLiteral("Контрольная сумма загруженного архива не совпадает с объявленной.");
                break;
            }
            LogInfo(QStringLiteral("Распаковка архива..."));
            const QString manifest = IncludeTrailingPathSlash(unpacked) + QStringLiteral("update_manifest.json");
            if (!ExtractUpdatePackage(archive, unpacked, &Message)) {
                LogError(QStringLiteral("Ошибка при распаковке архива"));
                break;
            }
            if (!QFileInfo::exists(manifest)) {
                LogError(QStringLiteral("Манифест не найден в архиве"));
                Message = QStringLiteral("В архиве обновления нет манифеста.");
                break;
            }
            LogInfo(QStringLiteral("Установка компонентов обновления..."));
            // The record is written in the installation's transaction, so an
            // update is never installed without it, nor recorded half done.
            InstallReport report;
            const int r = InstallUpdateComponents(Database, unpacked, manifest, id, Year, backup, [&] {
                InstalledUpdateRecord rec;
                rec.updateId = id;
                rec.year = Year;
                rec.version = entry.version;
                rec.description = entry.description;
                rec.installDate = QDateTime::currentDateTime();
                rec.status = QStringLiteral("installed");
                rec.archiveChecksum = checksum;
                rec.archiveSize = QFileInfo(archive).size();   // the archive whose checksum was verified
                RecordInstalledUpdate(Database, rec);
            }, &report);
            if (report.committed) {
                // Installed and recorded; a print file that stayed as it was
                // is named, and the rollback puts back what did change.
                if (r == InstallAll) {
                    LogInfo(QStringLiteral("Обновление успешно установлено: ") + id);
                } else {
                    LogWarning(QStringLiteral("Обновление установлено, печатные файлы заменены не все: ") + id);
                    Message = QStringLiteral("Обновление установлено, но не удалось заменить печатные файлы:\r\n")
                              + report.notReplaced.join(QStringLiteral("\r\n"))
                              + QStringLiteral("\r\nЗакройте программы, в которых они открыты, и установите их "
                                               "повторно после отката обновления.");
                }
                result = true;
                break;
            }
            // Nothing was committed: nothing to roll back.
            LogError(QStringLiteral("Ошибка при установке обновления: ") + id);
            Message = report.reason;
        } while (false);
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при установке обновления: ") + winutil::errorText(e));
        Message = winutil::errorText(e);
        result = false;
    }
    if (QFileInfo::exists(archive))
        QFile::remove(archive);
    if (IsSafeFileName(id))
        QDir(unpackedFolder(id)).removeRecursively();
    return result;
}

bool TUpdateManager::RollbackUpdate(const QString &id) {
    Message.clear();
    try {
        LogInfo(QStringLiteral("Начат откат обновления: ") + id);
        if (!IsSafeFileName(id)) {
            LogError(QStringLiteral("Недопустимый идентификатор обновления: ") + id);
            return false;
        }
        const QString backup = backupFolder(id);
        if (!DatabaseReady(Database) || backup.isEmpty()) {
            LogError(QStringLiteral("База данных не подключена"));
            Message = QStringLiteral("База данных не подключена");
            return false;
        }
        // Only an update installed in this configuration and year: a backup
        // left by an attempt that installed nothing, or by an update rolled
        // back already, holds a state the forms have left since.
        if (!isInstalled(*this, id)) {
            LogError(QStringLiteral("Обновление не установлено: ") + id);
            Message = QStringLiteral("Обновление %1 не установлено.").arg(id);
            return false;
        }
        if (!QDir(backup).exists()) {
            LogError(QStringLiteral("Резервная копия не найдена: ") + backup);
            Message = QStringLiteral("Резервная копия обновления не найдена: ") + backup;
            return false;
        }
        // Only when no later update changed what this one changed (a form,
        // or a rule between forms): rolling back an older one would undo the
        // later one's changes, and the later one's backup would then bring
        // the older one back.
        const UpdateTouched mine = TouchedByUpdate(Database, backup);
        const QList<InstalledUpdateRecord> installed = GetInstalledUpdates(*this);
        bool later = false;
        for (const InstalledUpdateRecord &r : installed) {
            if (r.updateId.compare(id, Qt::CaseInsensitive) == 0) {
                later = true;
                continue;
            }
            if (!later || !IsSafeFileName(r.updateId))
                continue;
            const QString shared = SharedChange(mine, TouchedByUpdate(Database, backupFolder(r.updateId)));
            if (!shared.isEmpty()) {
                LogError(QStringLiteral("Откат отклонен: %1 изменило более позднее обновление %2").arg(shared, r.updateId));
                Message = QStringLiteral("%1 изменило более позднее обновление %2. Сначала откатите его.")
                              .arg(shared, r.version.isEmpty() ? r.updateId : r.version);
                return false;
            }
        }
        // A rolled-back update is no longer installed and may be offered again;
        // the mark is written with the restored database.
        const auto mark = [&] {
            if (DatabaseReady(Database))
                db::exec(Database,
                         QStringLiteral("UPDATE updates SET status='rolled_back' WHERE update_id=? AND year=? "
                                        "AND status='installed'"),
                         {id, Year});
        };
        QStringList unchecked;
        if (!RollbackUpdateFromBackup(Database, backup, id, mark, &Message, &unchecked)) {
            LogError(QStringLiteral("Ошибка при откате обновления: ") + id);
            return false;
        }
        LogInfo(QStringLiteral("Откат обновления завершен: ") + id);
        if (!unchecked.isEmpty())
            Message = QStringLiteral("Восстановлены контроли, которые сейчас не проходят проверку:\r\n")
                      + unchecked.join(QStringLiteral("\r\n"));
        return true;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при откате обновления: ") + winutil::errorText(e));
        Message = winutil::errorText(e);
        return false;
    }
}

QList<InstalledUpdateRecord> GetInstalledUpdates(const TUpdateManager &m) {
    QList<InstalledUpdateRecord> out;
    if (!DatabaseReady(m.Database))
        return out;
    EnsureUpdateTables(m.Database);
    QSqlQuery q = db::exec(m.Database,
                           QStringLiteral("SELECT update_id, version, install_date, description, archive_checksum, "
                                          "archive_size FROM updates WHERE year=? AND status='installed' ORDER BY id"),
                           {m.Year});
    while (q.next()) {
        InstalledUpdateRecord r;
        r.updateId = q.value(0).toString();
        r.version = q.value(1).toString();
        r.year = m.Year;
        r.installDate = QDateTime::fromString(q.value(2).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        r.status = QStringLiteral("installed");
        r.description = q.value(3).toString();
        r.archiveChecksum = q.value(4).toString();
        r.archiveSize = q.value(5).toLongLong();
        out.append(r);
    }
    return out;
}

QString ReadUpdateServerUrl(const QString &settingsFile) {
    if (QFileInfo::exists(settingsFile)) {
        const QString url = IniFile(settingsFile).readString(QStringLiteral("Настройки"), QStringLiteral("UpdateServerURL"));
        if (!url.isEmpty())
            return url;
    }
    return kDefaultUpdateServerUrl;
}

// ---- window -----------------------------------------------------------------

TUpdateForm::TUpdateForm(const QSqlDatabase &database, int year, QWidget *parent)
    : QDialog(parent), Database(database), Year(year) {
    setWindowTitle(QStringLiteral("Обновления форм и контролей"));
    resize(800, 500);
    m_ui.updates = new QTreeWidget(this);
    m_ui.details = new QPlainTextEdit(this);
    m_ui.refresh = new QPushButton(QStringLiteral("Проверить обновления"), this);
    m_ui.install = new QPushButton(QStringLiteral("Установить"), this);
    m_ui.rollback = new QPushButton(QStringLiteral("Откатить"), this);
    m_ui.close = new QPushButton(QStringLiteral("Закрыть"), this);
    m_ui.progress = new QProgressBar(this);
    m_ui.aboveDetails = new QLabel(this);
    m_ui.belowDetails = new QLabel(this);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_ui.refresh);
    buttons->addWidget(m_ui.install);
    buttons->addWidget(m_ui.rollback);
    buttons->addStretch();
    buttons->addWidget(m_ui.close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_ui.updates, 3);
    layout->addWidget(m_ui.aboveDetails);
    layout->addWidget(m_ui.details, 2);
    layout->addWidget(m_ui.belowDetails);
    layout->addWidget(m_ui.progress);
    layout->addLayout(buttons);

    connect(m_ui.refresh, &QPushButton::clicked, this, [this] { checkForUpdates(); });
    connect(m_ui.install, &QPushButton::clicked, this, [this] { installSelected(); });
    connect(m_ui.rollback, &QPushButton::clicked, this, [this] { rollBackSelected(); });
    connect(m_ui.close, &QPushButton::clicked, this, [this] { closeWindow(); });
    connect(m_ui.updates, &QTreeWidget::itemSelectionChanged, this, [this] { showSelectedDetails(); });
    FormCreate();
}

TUpdateForm::~TUpdateForm() = default;

QString TUpdateForm::detailsText() const { return m_ui.details->toPlainText(); }

void TUpdateForm::FormCreate() {
    m_ui.updates->setRootIsDecorated(false);
    m_ui.updates->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ui.updates->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_ui.updates->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui.updates->setHeaderLabels({QStringLiteral("Версия"), QStringLiteral("Дата"), QStringLiteral("Описание"),
                                QStringLiteral("Размер"), QStringLiteral("Статус")});
    const int widths[] = {80, 100, 300, 100, 100};
    for (int i = 0; i < 5; ++i)
        m_ui.updates->setColumnWidth(i, widths[i]);
    m_ui.details->setReadOnly(true);
    m_ui.details->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_ui.install->setEnabled(false);
    m_ui.rollback->setEnabled(false);
    m_ui.progress->setVisible(false);
}

void TUpdateForm::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    winutil::guarded(this, [this] { FormShow(); });
}

void TUpdateForm::FormShow() {
    // One source for the address: the update settings file, as the main
    // window's commands and the package generator read it.
    ServerUrl = ReadUpdateServerUrl(paths::updateSettingsFile());
    const QString program = paths::programFolder();
    TempDir = program + QStringLiteral("temp/");
    ForceDirectoryPath(TempDir);
    if (DatabaseReady(Database))
        EnsureUpdateTables(Database);
    InitUpdateLogger(program);
    RefreshUpdates();
}

void TUpdateForm::RefreshUpdates() {
    if (!DatabaseReady(Database)) {
        m_ui.updates->clear();
        m_ui.details->clear();
        m_rows.clear();
        showMessage(QStringLiteral("База данных не подключена"), this);
        return;
    }
    m_ui.refresh->setEnabled(false);
    m_ui.progress->setVisible(true);
    pump();
    std::unique_ptr<TUpdatesList> offered;
    QList<InstalledUpdateRecord> installed;
    bool stopped = false;
    QString why;
    {
        ProgressRun run(QStringLiteral("Загрузка списка обновлений..."));
        TUpdateManager manager(Database, Year, ServerUrl, TempDir);
        manager.Progress = shownIn(run, stopped);
        offered = manager.CheckForUpdates(true);
        why = manager.Message;
        installed = GetInstalledUpdates(manager);
    }
    m_ui.refresh->setEnabled(true);
    m_ui.progress->setVisible(false);
    if (stopped) {   // the list stays as it was
        winutil::showCancelled(this);
        return;
    }
    m_ui.updates->clear();
    m_ui.details->clear();
    m_rows.clear();
    QStringList installedIds;
    for (const InstalledUpdateRecord &r : installed)
        installedIds << r.updateId;
    const auto addRow = [this](const UpdateEntry &e, const QString &status) {
        auto *item = new QTreeWidgetItem(m_ui.updates, {e.version, e.releaseDate, e.description,
                                                     QString::number(e.size) + QStringLiteral(" байт"), status});
        item->setData(0, Qt::UserRole, int(m_rows.size()));
        m_rows.append(e);
    };
    // Installed updates stay listed, so that they can be rolled back, also
    // when the server no longer offers them or is out of reach.
    QStringList listed;
    if (offered)
        for (const UpdateEntry &e : offered->items) {
            addRow(e, installedIds.contains(e.id, Qt::CaseInsensitive) ? kInstalled : kAvailable);
            listed << e.id;
        }
    for (const InstalledUpdateRecord &r : installed) {
        if (listed.contains(r.updateId, Qt::CaseInsensitive))
            continue;
        UpdateEntry e;
        e.id = r.updateId;
        e.version = r.version;
        e.description = r.description;
        e.size = r.archiveSize;
        addRow(e, kInstalled);
    }
    if (!offered)
        showMessage(listFailure(why), this);
    UpdateButtons();
}

const UpdateEntry *TUpdateForm::selectedEntry() const {
    const QTreeWidgetItem *item = m_ui.updates->currentItem();
    if (!item || !item->isSelected())
        return nullptr;
    const int i = item->data(0, Qt::UserRole).toInt();
    return i >= 0 && i < m_rows.size() ? &m_rows[i] : nullptr;
}

void TUpdateForm::showSelectedDetails() {
    m_ui.details->clear();
    const UpdateEntry *e = selectedEntry();
    if (!e) {
        m_ui.install->setEnabled(false);
        m_ui.rollback->setEnabled(false);
        return;
    }
    m_ui.details->appendPlainText(QStringLiteral("Версия: ") + e->version);
    m_ui.details->appendPlainText(QStringLiteral("Дата выпуска: ") + e->releaseDate);
    m_ui.details->appendPlainText(QStringLiteral("Описание: ") + e->description);
    m_ui.details->appendPlainText(QStringLiteral("Размер: ") + QString::number(e->size) + QStringLiteral(" байт"));
    m_ui.details->appendPlainText(QStringLiteral("Формы: ") + joinNames(e->forms));
    UpdateButtons();
}

void TUpdateForm::UpdateButtons() {
    const QTreeWidgetItem *item = selectedEntry() ? m_ui.updates->currentItem() : nullptr;
    m_ui.install->setEnabled(item && item->text(kStatusColumn) == kAvailable);
    m_ui.rollback->setEnabled(item && item->text(kStatusColumn) == kInstalled);
}

void TUpdateForm::checkForUpdates() { winutil::guarded(this, [this] { RefreshUpdates(); }); }

void TUpdateForm::installSelected() {
    winutil::guarded(this, [this] {
        const UpdateEntry *selected = selectedEntry();
        if (!selected)
            return;
        const UpdateEntry e = *selected;
        const int row = m_ui.updates->indexOfTopLevelItem(m_ui.updates->currentItem());
        if (!dialogs().question(this, QStringLiteral("Установить обновление ") + e.version + QLatin1Char('?'),
                                QStringLiteral("Подтверждение")))
            return;
        m_ui.install->setEnabled(false);
        // No refresh while installing: it would replace the rows under the install.
        m_ui.refresh->setEnabled(false);
        m_ui.progress->setValue(0);
        m_ui.progress->setVisible(true);
        pump();
        m_ui.close->setEnabled(false);
        bool ok = false;
        bool stopped = false;
        QString message;
        {
            TUpdateManager manager(Database, Year, ServerUrl, TempDir);
            m_ui.progress->setValue(25);
            pump();
            // The download runs in the event loop: the windows keep painting,
            // and "Отмена" stops it.
            ProgressRun run(QStringLiteral("Загрузка обновления ") + e.version + QStringLiteral("..."));
            manager.Progress = shownIn(run, stopped);
            ok = manager.InstallUpdate(e);
            message = manager.Message;
        }
        m_ui.close->setEnabled(true);
        if (ok) {
            m_ui.progress->setValue(100);
            pump();
            // Installed; a print file that could not be replaced is named.
            showMessage(message.isEmpty() ? QStringLiteral("Обновление успешно установлено") : message, this);
            if (QTreeWidgetItem *item = m_ui.updates->topLevelItem(row))
                item->setText(kStatusColumn, kInstalled);
            m_ui.refresh->setEnabled(true);
            RefreshUpdates();
        } else {
            showMessage(stopped ? Cancelled::message() : withReason(QStringLiteral("Ошибка при установке обновления."), message),
                        this);
        }
        m_ui.refresh->setEnabled(true);
        m_ui.install->setEnabled(true);
        m_ui.progress->setVisible(false);
        UpdateButtons();
    });
}

void TUpdateForm::rollBackSelected() {
    winutil::guarded(this, [this] {
        const UpdateEntry *selected = selectedEntry();
        if (!selected)
            return;
        const QString id = selected->id;
        if (!dialogs().question(this,
                                QStringLiteral("Откатить обновление? Все изменения будут восстановлены из резервной копии."),
                                QStringLiteral("Подтверждение")))
            return;
        m_ui.rollback->setEnabled(false);
        m_ui.progress->setVisible(true);
        pump();
        bool ok = false;
        QString message;
        {
            TUpdateManager manager(Database, Year, ServerUrl, TempDir);
            ok = manager.RollbackUpdate(id);
            message = manager.Message;
        }
        if (ok) {
            // Rules put back that the check refuses today are named.
            showMessage(message.isEmpty() ? QStringLiteral("Обновление откачено")
                                          : QStringLiteral("Обновление откачено\r\n") + message,
                        this);
            RefreshUpdates();
        } else {
            showMessage(withReason(QStringLiteral("Ошибка при откате обновления."), message), this);
        }
        m_ui.progress->setVisible(false);
        UpdateButtons();
    });
}

void TUpdateForm::closeWindow() { reject(); }

// ---- main-window commands -----------------------------------------------------

namespace {

QSqlDatabase mainDatabase() {
    return db::isOpen(db::kMain) ? db::connection(db::kMain) : QSqlDatabase();
}

} // namespace

void openUpdateWindow(QWidget *parent) {
    winutil::guarded(parent, [parent] {
        TUpdateForm form(mainDatabase(), shared().Year, parent);
        execModal(&form);
    });
}

void checkForUpdatesCommand(QWidget *parent) {
    winutil::guarded(parent, [parent] {
        const QString url = ReadUpdateServerUrl(paths::updateSettingsFile());
        const QString program = paths::programFolder();
        ForceDirectoryPath(program + QStringLiteral("temp/"));
        const QSqlDatabase d = mainDatabase();
        EnsureUpdateTables(d);
        int count = 0;
        bool listed = false;
        QString why;
        {
            TUpdateManager manager(d, shared().Year, url, program + QStringLiteral("temp/"));
            const auto list = manager.CheckForUpdates();
            listed = bool(list);
            count = list ? int(list->items.size()) : 0;
            why = manager.Message;
        }
        if (!listed) {
            showMessage(listFailure(why), parent);
        } else if (count > 0) {
            if (dialogs().question(parent,
                                   QStringLiteral("Найдено обновлений: %1\r\nОткрыть окно управления обновлениями?")
                                       .arg(count),
                                   QStringLiteral("Обновления")))
                openUpdateWindow(parent);
        } else {
            showMessage(QStringLiteral("Обновления не найдены."), parent);
        }
    });
}
