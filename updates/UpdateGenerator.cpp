#include "updates/UpdateGenerator.h"

#include "core/AdminMode.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Errors.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Http.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "updates/UpdateExporter.h"
#include "updates/UpdateInstaller.h"
#include "updates/UpdateSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlQuery>
#include <QVBoxLayout>

namespace {

QString str(const QString &key, const QString &value) {
    return QLatin1Char('"') + key + QStringLiteral("\": \"") + JsonEscapeString(value) + QLatin1Char('"');
}

QString pad(int n) { return QString(n, QLatin1Char(' ')); }

} // namespace

QString BuildManifestJson(const QString &version, int year, const QString &description,
                          const QString &updateStrategy, const QString &globalVersion,
                          const QList<FormPackageOptions> &options, const QStringList &formNames) {
    QStringList l;
    l << QStringLiteral("{");
    l << pad(2) + str(QStringLiteral("version"), version) + QLatin1Char(',');
    l << pad(2) + str(QStringLiteral("releaseDate"), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")))
             + QLatin1Char(',');
    l << pad(2) + str(QStringLiteral("year"), QString::number(year)) + QLatin1Char(',');
    l << pad(2) + str(QStringLiteral("description"), description) + QLatin1Char(',');
    l << pad(2) + QStringLiteral("\"minAppVersion\": \"1.0.0\",");
    l << pad(2) + QStringLiteral("\"archiveChecksum\": \"\",");
    l << pad(2) + QStringLiteral("\"archiveSize\": 0,");
    l << pad(2) + QStringLiteral("\"forms\": [");
    QList<QStringList> objects;
    for (int i = 0; i < formNames.size(); ++i) {
        const FormPackageOptions o = i < options.size() ? options[i] : FormPackageOptions{};
        if (!o.includeStructure && !o.includeControls && !o.includePrintFiles)
            continue;
        const QString n = formNames[i];
        QList<QStringList> keys;   // each key: its lines, the last one gets the separator
        keys << QStringList{pad(6) + str(QStringLiteral("formName"), n)};
        if (o.includeStructure) {
            keys << QStringList{pad(6) + str(QStringLiteral("formFile"), n + QLatin1Char('/') + n + QStringLiteral(".frs"))};
            if (!o.formVersion.isEmpty())
                keys << QStringList{pad(6) + str(QStringLiteral("formVersion"), o.formVersion)};
        }
        if (o.includeControls) {
            keys << QStringList{pad(6) + str(QStringLiteral("controlsFile"),
                                             n + QStringLiteral("/controls_") + n + QStringLiteral(".orv"))};
            if (!o.controlsVersion.isEmpty())
                keys << QStringList{pad(6) + str(QStringLiteral("controlsVersion"), o.controlsVersion)};
        }
        if (o.includePrintFiles) {
            const auto item = [&](const char *ext) {
                return pad(8) + QLatin1Char('"') + JsonEscapeString(n + QStringLiteral("/Forms/") + n + QLatin1String(ext))
                       + QLatin1Char('"');
            };
            QStringList printFiles{pad(6) + QStringLiteral("\"printFiles\": ["), item(".doc") + QLatin1Char(',')};
            // The template saved as .docx, which the print takes before the .doc.
            if (o.docxTemplate)
                printFiles << item(".docx") + QLatin1Char(',');
            printFiles << item(".txt") << pad(6) + QLatin1Char(']');
            keys << printFiles;
        }
        QStringList obj{pad(4) + QLatin1Char('{')};
        for (int k = 0; k < keys.size(); ++k) {
            QStringList key = keys[k];
            if (k + 1 < keys.size())
                key.last() += QLatin1Char(',');
            obj << key;
        }
        obj << pad(4) + QLatin1Char('}');
        objects << obj;
    }
    if (objects.isEmpty())
        l << QString();
    for (int i = 0; i < objects.size(); ++i) {
        QStringList obj = objects[i];
        if (i + 1 < objects.size())
            obj.last() += QLatin1Char(',');
        l << obj;
    }
    l << pad(2) + QStringLiteral("],");
    if (!globalVersion.isEmpty()) {
        l << pad(2) + QStringLiteral("\"globalControls\": [");
        l << pad(4) + QLatin1Char('{');
        l << pad(6) + QStringLiteral("\"file\": \"controls_all.orv\",");
        l << pad(6) + str(QStringLiteral("version"), globalVersion) + QLatin1Char(',');
        l << pad(6) + str(QStringLiteral("updateStrategy"), updateStrategy);
        l << pad(4) + QLatin1Char('}');
        l << pad(2) + QStringLiteral("],");
    }
    l << pad(2) + QStringLiteral("\"databaseBackup\": true,");
    l << pad(2) + QStringLiteral("\"metadata\": {");
    l << pad(4) + QStringLiteral("\"author\": \"Kelvana\",");
    l << pad(4) + QStringLiteral("\"priority\": \"high\",");
    l << pad(4) + QStringLiteral("\"requiresRestart\": false");
    l << pad(2) + QLatin1Char('}');
    l << QStringLiteral("}");
    return l.join(QStringLiteral("\r\n"));
}

void SaveManifestJson(const QString &text, const QString &fileName) {
    QString why;
    if (!cp1251::writeFile(fileName, cp1251::encode(text + QStringLiteral("\r\n")), &why))
        throw db::Error(QStringLiteral("Не удалось записать файл %1: %2").arg(fileName, why));
}

void CopyPackagePrintFiles(const QString &formName, const QString &sourceFolder, const QString &destFolder) {
    for (const char *ext : {".doc", ".docx", ".txt"}) {
        const QString file = formName + QLatin1String(ext);
        const QString from = IncludeTrailingPathSlash(sourceFolder) + file;
        if (!QFileInfo::exists(from))
            continue;
        if (!paths::copyFileOver(from, IncludeTrailingPathSlash(destFolder) + file))
            throw db::Error(QStringLiteral("Не удалось скопировать файл: ") + from);
        LogInfo(QStringLiteral("Скопирован печатный файл: ") + file);
    }
}

QString GenerateUpdatePackage(const QSqlDatabase &db, const QStringList &formNames,
                              const QList<FormPackageOptions> &options, const PackageProgressEvent &progress,
                              const QString &updateStrategy, const QString &globalVersion,
                              const QString &outputFolder, const QString &description, int year,
                              const QString &version, QString *why) {
    QString scratch;
    QString &reason = why ? *why : scratch;
    reason.clear();
    if (!DatabaseReady(db) || formNames.isEmpty())
        return {};
    auto report = [&](int pos, const QString &text) {
        if (progress)
            progress(pos, 100, text);
    };
    try {
        const QString out = IncludeTrailingPathSlash(outputFolder);
        // A fresh work folder: one left by a package made in the same
        // millisecond would mix its files into this one.
        const QString stamp = QStringLiteral("temp_") + QString::number(QDateTime::currentMSecsSinceEpoch());
        QString work = out + stamp + QLatin1Char('/');
        for (int n = 1; QFileInfo::exists(work); ++n)
            work = out + stamp + QLatin1Char('_') + QString::number(n) + QLatin1Char('/');
        // Every chosen form goes into the package, or no package is made:
        // one that lacks a chosen form would be published as complete.
        QStringList refused;
        for (const QString &name : formNames) {
            if (ReadFormIdByName(db, name) < 0) {
                LogError(QStringLiteral("Форма не найдена в БД: ") + name);
                refused << QStringLiteral("%1 (формы нет в базе данных)").arg(name);
            } else if (!IsSafeFileName(name)) {
                // The name makes the form's folder and files; the client
                // refuses a name with a path in it.
                LogError(QStringLiteral("Имя формы не годится для имени файла: ") + name);
                refused << QStringLiteral("%1 (имя формы не может быть именем файла)").arg(name);
            }
        }
        if (!refused.isEmpty()) {
            reason = QStringLiteral("Эти формы не могут войти в пакет:\r\n") + refused.join(QStringLiteral("\r\n"));
            return {};
        }
        // A package whose manifest lists no form is refused by every client.
        bool anyPart = false;
        for (int i = 0; i < formNames.size() && i < options.size(); ++i)
            anyPart = anyPart || options[i].includeStructure || options[i].includeControls || options[i].includePrintFiles;
        if (!anyPart) {
            LogError(QStringLiteral("Не выбраны компоненты форм"));
            reason = QStringLiteral("Не выбрано, что войдет в пакет: структура формы, контроли или печатные файлы.");
            return {};
        }
        // The work folder goes when the package is made, or when it is not.
        ForceDirectoryPath(work);
        const struct WorkFolder {
            QString path;
            ~WorkFolder() { QDir(path).removeRecursively(); }
        } workFolder{work};
        report(0, QStringLiteral("Создание временной папки..."));
        const QString printSource = DatabaseFolder(db) + QStringLiteral("forms/");
        // Only forms found in the database go into the manifest.
        QStringList written;
        QList<FormPackageOptions> writtenOptions;
        for (int i = 0; i < formNames.size(); ++i) {
            const QString name = formNames[i];
            FormPackageOptions o = i < options.size() ? options[i] : FormPackageOptions{};
            o.formName = name;
            const qint64 id = ReadFormIdByName(db, name);
            const QString formFolder = work + name + QLatin1Char('/');
            ForceDirectoryPath(formFolder);
            report(20 * i / int(formNames.size()), QStringLiteral("Экспорт формы: ") + name);
            if (o.includeStructure)
                ExportFormStructure(db, id, formFolder + name + QStringLiteral(".frs"));
            if (o.includeControls)
                ExportFormControls(db, id, name, formFolder + QStringLiteral("controls_") + name + QStringLiteral(".orv"));
            if (o.includePrintFiles) {
                ForceDirectoryPath(formFolder + QStringLiteral("Forms"));
                CopyPackagePrintFiles(name, printSource, formFolder + QStringLiteral("Forms"));
                o.docxTemplate = QFileInfo::exists(formFolder + QStringLiteral("Forms/") + name + QStringLiteral(".docx"));
            }
            written << name;
            writtenOptions << o;
        }
        if (!globalVersion.isEmpty()) {
            report(80, QStringLiteral("Экспорт общих контролей..."));
            ExportGlobalControls(db, work + QStringLiteral("controls_all.orv"));
        }
        report(85, QStringLiteral("Создание манифеста..."));
        SaveManifestJson(BuildManifestJson(version, year, description, updateStrategy, globalVersion, writtenOptions,
                                           written),
                         work + QStringLiteral("update_manifest.json"));
        report(90, QStringLiteral("Создание ZIP архива..."));
        const QString archive = out + QStringLiteral("update_package_%1_v%2.zip").arg(year).arg(version);
        // A package made again holds only what was exported this time.
        if (QFileInfo::exists(archive))
            QFile::remove(archive);
        if (!CreateZipArchive(work, archive)) {
            LogError(QStringLiteral("Ошибка при создании ZIP архива"));
            reason = QStringLiteral("Не удалось создать архив ") + archive;
            return {};
        }
        report(95, QStringLiteral("Расчет контрольной суммы..."));
        const QString checksum = FileSha256Hex(archive);
        LogInfo(QStringLiteral("Пакет обновления создан: ") + archive);
        LogInfo(QStringLiteral("Контрольная сумма: ") + checksum);
        LogInfo(QStringLiteral("Размер: ") + QString::number(QFileInfo(archive).size()) + QStringLiteral(" байт"));
        report(100, QStringLiteral("Готово"));
        return archive;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при генерации пакета: ") + winutil::errorText(e));
        reason = winutil::errorText(e);
        return {};
    }
}

// ---- window -----------------------------------------------------------------

TUpdateGeneratorForm::TUpdateGeneratorForm(const QSqlDatabase &database, int year, QWidget *parent)
    : QDialog(parent), Database(database), Year(year) {
    setWindowTitle(QStringLiteral("Генератор пакетов обновления"));
    resize(700, 600);
    m_ui.formsCaption = new QLabel(QStringLiteral("Выберите формы:"), this);
    m_ui.forms = new QListWidget(this);
    m_ui.formParts = new QGroupBox(QStringLiteral("Компоненты формы"), this);
    m_ui.structure = new QCheckBox(QStringLiteral("Структура формы"), m_ui.formParts);
    m_ui.rules = new QCheckBox(QStringLiteral("Контроли"), m_ui.formParts);
    m_ui.printFiles = new QCheckBox(QStringLiteral("Печатные файлы"), m_ui.formParts);
    m_ui.formVersion = new QLineEdit(QStringLiteral("1.0.0"), m_ui.formParts);
    m_ui.rulesVersion = new QLineEdit(QStringLiteral("1.0.0"), m_ui.formParts);
    m_ui.commonRules = new QGroupBox(QStringLiteral("Общие контроли"), this);
    m_ui.includeCommon = new QCheckBox(QStringLiteral("Включить общие контроли"), m_ui.commonRules);
    m_ui.commonVersion = new QLineEdit(QStringLiteral("1.0.0"), m_ui.commonRules);
    m_ui.strategy = new QComboBox(m_ui.commonRules);
    m_ui.version = new QLineEdit(QStringLiteral("1.0.0"), this);
    m_ui.description = new QLineEdit(this);
    m_ui.year = new QComboBox(this);
    m_ui.year->setEditable(true);
    m_ui.generate = new QPushButton(QStringLiteral("Сгенерировать пакет"), this);
    m_ui.close = new QPushButton(QStringLiteral("Закрыть"), this);
    m_ui.progress = new QProgressBar(this);
    m_ui.log = new QPlainTextEdit(this);
    m_ui.log->setReadOnly(true);

    auto *g1 = new QGridLayout(m_ui.formParts);
    g1->addWidget(m_ui.structure, 0, 0);
    g1->addWidget(m_ui.rules, 1, 0);
    g1->addWidget(m_ui.printFiles, 2, 0);
    g1->addWidget(new QLabel(QStringLiteral("Версия формы:"), m_ui.formParts), 3, 0);
    g1->addWidget(m_ui.formVersion, 3, 1);
    g1->addWidget(new QLabel(QStringLiteral("Версия контролей:"), m_ui.formParts), 4, 0);
    g1->addWidget(m_ui.rulesVersion, 4, 1);
    auto *g2 = new QGridLayout(m_ui.commonRules);
    g2->addWidget(m_ui.includeCommon, 0, 0, 1, 2);
    g2->addWidget(new QLabel(QStringLiteral("Версия общих контролей:"), m_ui.commonRules), 1, 0);
    g2->addWidget(m_ui.commonVersion, 1, 1);
    g2->addWidget(new QLabel(QStringLiteral("Стратегия обновления:"), m_ui.commonRules), 2, 0);
    g2->addWidget(m_ui.strategy, 2, 1);

    auto *right = new QVBoxLayout;
    right->addWidget(m_ui.formParts);
    right->addWidget(m_ui.commonRules);
    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("Версия обновления:"), m_ui.version);
    fields->addRow(QStringLiteral("Описание:"), m_ui.description);
    fields->addRow(QStringLiteral("Год:"), m_ui.year);
    right->addLayout(fields);
    right->addStretch();
    auto *left = new QVBoxLayout;
    left->addWidget(m_ui.formsCaption);
    left->addWidget(m_ui.forms);
    auto *top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(right, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ui.generate);
    buttons->addWidget(m_ui.close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top, 3);
    layout->addWidget(m_ui.progress);
    layout->addWidget(m_ui.log, 1);
    layout->addLayout(buttons);

    connect(m_ui.forms, &QListWidget::itemChanged, this, [this] { takeTickedForms(); });
    connect(m_ui.structure, &QCheckBox::toggled, this, [this] { UpdateControls(); });
    connect(m_ui.rules, &QCheckBox::toggled, this, [this] { UpdateControls(); });
    connect(m_ui.version, &QLineEdit::textChanged, this, [this] { UpdateControls(); });
    connect(m_ui.description, &QLineEdit::textChanged, this, [this] { UpdateControls(); });
    connect(m_ui.year, &QComboBox::currentTextChanged, this, [this] { UpdateControls(); });
    connect(m_ui.generate, &QPushButton::clicked, this, [this] { generatePackage(); });
    connect(m_ui.close, &QPushButton::clicked, this, [this] { closeGenerator(); });
    FormCreate();
}

void TUpdateGeneratorForm::FormCreate() {
    m_ui.structure->setChecked(true);
    m_ui.rules->setChecked(true);
    m_ui.strategy->addItems({QStringLiteral("replace"), QStringLiteral("add")});
    m_ui.strategy->setCurrentIndex(0);
    m_ui.commonVersion->setEnabled(false);
    m_ui.strategy->setEnabled(false);
    for (int y = 2020; y <= 2030; ++y)
        m_ui.year->addItem(QString::number(y));
    m_ui.generate->setEnabled(false);
    m_ui.progress->setVisible(false);
    UpdateControls();
}

void TUpdateGeneratorForm::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    winutil::guarded(this, [this] { FormShow(); });
}

void TUpdateGeneratorForm::FormShow() {
    int year = Year;
    if (year < 1) {
        year = IniFile(paths::updateSettingsFile()).readInteger(QStringLiteral("Конфигурация"), QStringLiteral("Year"), -1);
        if (year == -1)
            year = QDate::currentDate().year();
    }
    m_ui.year->setEditText(QString::number(year));
    InitUpdateLogger(paths::programFolder());
    LoadForms();
}

void TUpdateGeneratorForm::LoadForms() {
    m_ui.forms->clear();
    if (!DatabaseReady(Database)) {
        showMessage(QStringLiteral("База данных не подключена"), this);
        return;
    }
    const QSignalBlocker block(m_ui.forms);
    QStringList names;
    for (const QVariant &v : db::column(Database, QStringLiteral("SELECT formname FROM forms")))
        names << v.toString();
    text::sortNames(names);
    for (const QString &name : names) {
        auto *item = new QListWidgetItem(name, m_ui.forms);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    UpdateControls();
}

void TUpdateGeneratorForm::takeTickedForms() { UpdateControls(); }

void TUpdateGeneratorForm::UpdateControls() {
    bool any = false;
    for (int i = 0; i < m_ui.forms->count(); ++i)
        any = any || m_ui.forms->item(i)->checkState() == Qt::Checked;
    m_ui.structure->setEnabled(any);
    m_ui.rules->setEnabled(any);
    m_ui.printFiles->setEnabled(any);
    m_ui.formVersion->setEnabled(any && m_ui.structure->isChecked());
    m_ui.rulesVersion->setEnabled(any && m_ui.rules->isChecked());
    m_ui.generate->setEnabled(any && !m_ui.version->text().isEmpty() && !m_ui.description->text().isEmpty() && !m_ui.year->currentText().isEmpty());
}

void TUpdateGeneratorForm::ReportProgress(int position, int maximum, const QString &text) {
    m_ui.progress->setMaximum(maximum);
    m_ui.progress->setValue(position);
    m_ui.log->appendPlainText(text);
    QCoreApplication::processEvents();
}

void TUpdateGeneratorForm::generatePackage() {
    winutil::guarded(this, [this] {
        QStringList names;
        for (int i = 0; i < m_ui.forms->count(); ++i)
            if (m_ui.forms->item(i)->checkState() == Qt::Checked)
                names << m_ui.forms->item(i)->text();
        if (names.isEmpty())
            return showMessage(QStringLiteral("Выберите хотя бы одну форму"), this);
        if (m_ui.version->text().isEmpty())
            return showMessage(QStringLiteral("Введите версию обновления"), this);
        if (m_ui.description->text().isEmpty())
            return showMessage(QStringLiteral("Введите описание обновления"), this);
        if (m_ui.year->currentText().isEmpty())
            return showMessage(QStringLiteral("Выберите год"), this);
        bool yearOk = false;
        const int year = m_ui.year->currentText().trimmed().toInt(&yearOk);
        if (!yearOk)
            return showError(QStringLiteral("\"%1\" не является годом").arg(m_ui.year->currentText()), this);
        QList<FormPackageOptions> options;
        for (const QString &n : names)
            options << FormPackageOptions{n, m_ui.structure->isChecked(), m_ui.rules->isChecked(), m_ui.printFiles->isChecked(),
                                          m_ui.formVersion->text(), m_ui.rulesVersion->text()};
        const QString output = paths::programFolder() + QStringLiteral("Updates/");
        ForceDirectoryPath(output);
        m_ui.generate->setEnabled(false);
        m_ui.progress->setVisible(true);
        m_ui.log->clear();
        QCoreApplication::processEvents();
        const QString globalVersion = m_ui.includeCommon->isChecked() ? m_ui.commonVersion->text() : QString();
        const QString strategy = m_ui.includeCommon->isChecked() ? m_ui.strategy->currentText() : QString();
        QString why;
        m_lastPackage = GenerateUpdatePackage(
            Database, names, options, [this](int p, int m, const QString &t) { ReportProgress(p, m, t); }, strategy,
            globalVersion, output, m_ui.description->text(), year, m_ui.version->text(), &why);
        if (!m_lastPackage.isEmpty()) {
            m_ui.progress->setValue(100);
            m_ui.log->appendPlainText(QString());
            m_ui.log->appendPlainText(QStringLiteral("Пакет обновления успешно создан:"));
            m_ui.log->appendPlainText(m_lastPackage);
            showMessage(QStringLiteral("Пакет обновления успешно создан!\r\n") + m_lastPackage, this);
        } else {
            showMessage(why.isEmpty() ? QStringLiteral("Ошибка при создании пакета обновления. Проверьте логи.")
                                      : QStringLiteral("Ошибка при создании пакета обновления.\r\n") + why,
                        this);
        }
        m_ui.generate->setEnabled(true);
        m_ui.progress->setVisible(false);
    });
}

void TUpdateGeneratorForm::closeGenerator() { reject(); }

void openUpdateGenerator(QWidget *parent) {
    winutil::guarded(parent, [parent] {
        if (!IsAdminMode())
            return;
        TUpdateGeneratorForm form(db::isOpen(db::kMain) ? db::connection(db::kMain) : QSqlDatabase(), shared().Year,
                                  parent);
        execModal(&form);
    });
}
