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
            keys << QStringList{pad(6) + QStringLiteral("\"printFiles\": ["),
                                pad(8) + QLatin1Char('"') + JsonEscapeString(n + QStringLiteral("/Forms/") + n + QStringLiteral(".doc")) + QStringLiteral("\","),
                                pad(8) + QLatin1Char('"') + JsonEscapeString(n + QStringLiteral("/Forms/") + n + QStringLiteral(".txt")) + QLatin1Char('"'),
                                pad(6) + QLatin1Char(']')};
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
    for (const char *ext : {".doc", ".txt"}) {
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
                              const QString &version) {
    if (!DatabaseReady(db) || formNames.isEmpty())
        return {};
    auto report = [&](int pos, const QString &text) {
        if (progress)
            progress(pos, 100, text);
    };
    try {
        // Every chosen form goes into the package, or no package is made: a
        // package without a form the user chose would install as complete.
        QStringList unusable;
        for (const QString &name : formNames) {
            if (ReadFormIdByName(db, name) < 0) unusable << name + QStringLiteral(" (нет в базе данных)");
            // The name makes the form's folder and files; the client refuses a name with a path in it.
            else if (!IsSafeFileName(name)) unusable << name + QStringLiteral(" (не годится для имени файла)");
        }
        if (!unusable.isEmpty()) {
            LogError(QStringLiteral("Пакет не создан: формы не могут войти в пакет: ") +
                     unusable.join(QStringLiteral(", ")));
            return {};
        }
        const QString out = IncludeTrailingPathSlash(outputFolder);
        // A fresh work folder: one left by a package made in the same
        // millisecond would mix its files into this one.
        const QString stamp = QStringLiteral("temp_") + QString::number(QDateTime::currentMSecsSinceEpoch());
        QString work = out + stamp + QLatin1Char('/');
        for (int n = 1; QFileInfo::exists(work); ++n)
            work = out + stamp + QLatin1Char('_') + QString::number(n) + QLatin1Char('/');
        ForceDirectoryPath(work);
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
            if (id < 0) {
                LogWarning(QStringLiteral("Форма не найдена в БД: ") + name);
                continue;
            }
            // The name makes the form's folder and files; the client refuses
            // a name with a path in it, so such a form is not shipped.
            if (!IsSafeFileName(name)) {
                LogWarning(QStringLiteral("Имя формы не годится для имени файла: ") + name);
                continue;
            }
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
        return {};
    }
}

// ---- window -----------------------------------------------------------------

TUpdateGeneratorForm::TUpdateGeneratorForm(QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Генератор пакетов обновления"));
    resize(700, 600);
    Label1 = new QLabel(QStringLiteral("Выберите формы:"), this);
    CheckListBox1 = new QListWidget(this);
    GroupBox1 = new QGroupBox(QStringLiteral("Компоненты формы"), this);
    CheckBox1 = new QCheckBox(QStringLiteral("Структура формы"), GroupBox1);
    CheckBox2 = new QCheckBox(QStringLiteral("Контроли"), GroupBox1);
    CheckBox3 = new QCheckBox(QStringLiteral("Печатные файлы"), GroupBox1);
    Edit3 = new QLineEdit(QStringLiteral("1.0.0"), GroupBox1);
    Edit4 = new QLineEdit(QStringLiteral("1.0.0"), GroupBox1);
    GroupBox2 = new QGroupBox(QStringLiteral("Общие контроли"), this);
    CheckBox4 = new QCheckBox(QStringLiteral("Включить общие контроли"), GroupBox2);
    Edit5 = new QLineEdit(QStringLiteral("1.0.0"), GroupBox2);
    ComboBox2 = new QComboBox(GroupBox2);
    Edit1 = new QLineEdit(QStringLiteral("1.0.0"), this);
    Edit2 = new QLineEdit(this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(true);
    Button1 = new QPushButton(QStringLiteral("Сгенерировать пакет"), this);
    Button2 = new QPushButton(QStringLiteral("Закрыть"), this);
    ProgressBar1 = new QProgressBar(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);

    auto *g1 = new QGridLayout(GroupBox1);
    g1->addWidget(CheckBox1, 0, 0);
    g1->addWidget(CheckBox2, 1, 0);
    g1->addWidget(CheckBox3, 2, 0);
    g1->addWidget(new QLabel(QStringLiteral("Версия формы:"), GroupBox1), 3, 0);
    g1->addWidget(Edit3, 3, 1);
    g1->addWidget(new QLabel(QStringLiteral("Версия контролей:"), GroupBox1), 4, 0);
    g1->addWidget(Edit4, 4, 1);
    auto *g2 = new QGridLayout(GroupBox2);
    g2->addWidget(CheckBox4, 0, 0, 1, 2);
    g2->addWidget(new QLabel(QStringLiteral("Версия общих контролей:"), GroupBox2), 1, 0);
    g2->addWidget(Edit5, 1, 1);
    g2->addWidget(new QLabel(QStringLiteral("Стратегия обновления:"), GroupBox2), 2, 0);
    g2->addWidget(ComboBox2, 2, 1);

    auto *right = new QVBoxLayout;
    right->addWidget(GroupBox1);
    right->addWidget(GroupBox2);
    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("Версия обновления:"), Edit1);
    fields->addRow(QStringLiteral("Описание:"), Edit2);
    fields->addRow(QStringLiteral("Год:"), ComboBox1);
    right->addLayout(fields);
    right->addStretch();
    auto *left = new QVBoxLayout;
    left->addWidget(Label1);
    left->addWidget(CheckListBox1);
    auto *top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(right, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top, 3);
    layout->addWidget(ProgressBar1);
    layout->addWidget(Memo1, 1);
    layout->addLayout(buttons);

    connect(CheckListBox1, &QListWidget::itemChanged, this, [this] { CheckListBox1Click(); });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { UpdateControls(); });
    connect(CheckBox2, &QCheckBox::toggled, this, [this] { UpdateControls(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { UpdateControls(); });
    connect(Edit2, &QLineEdit::textChanged, this, [this] { UpdateControls(); });
    connect(ComboBox1, &QComboBox::currentTextChanged, this, [this] { UpdateControls(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    FormCreate();
}

void TUpdateGeneratorForm::FormCreate() {
    CheckBox1->setChecked(true);
    CheckBox2->setChecked(true);
    ComboBox2->addItems({QStringLiteral("replace"), QStringLiteral("add")});
    ComboBox2->setCurrentIndex(0);
    Edit5->setEnabled(false);
    ComboBox2->setEnabled(false);
    for (int y = 2020; y <= 2030; ++y)
        ComboBox1->addItem(QString::number(y));
    Button1->setEnabled(false);
    ProgressBar1->setVisible(false);
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
    ComboBox1->setEditText(QString::number(year));
    InitUpdateLogger(paths::programFolder());
    LoadForms();
}

void TUpdateGeneratorForm::LoadForms() {
    CheckListBox1->clear();
    if (!DatabaseReady(Database)) {
        showMessage(QStringLiteral("База данных не подключена"), this);
        return;
    }
    const QSignalBlocker block(CheckListBox1);
    QStringList names;
    for (const QVariant &v : db::column(Database, QStringLiteral("SELECT formname FROM forms")))
        names << v.toString();
    text::sortNames(names);
    for (const QString &name : names) {
        auto *item = new QListWidgetItem(name, CheckListBox1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    UpdateControls();
}

void TUpdateGeneratorForm::CheckListBox1Click() { UpdateControls(); }

void TUpdateGeneratorForm::UpdateControls() {
    bool any = false;
    for (int i = 0; i < CheckListBox1->count(); ++i)
        any = any || CheckListBox1->item(i)->checkState() == Qt::Checked;
    CheckBox1->setEnabled(any);
    CheckBox2->setEnabled(any);
    CheckBox3->setEnabled(any);
    Edit3->setEnabled(any && CheckBox1->isChecked());
    Edit4->setEnabled(any && CheckBox2->isChecked());
    Button1->setEnabled(any && !Edit1->text().isEmpty() && !Edit2->text().isEmpty() && !ComboBox1->currentText().isEmpty());
}

void TUpdateGeneratorForm::ReportProgress(int position, int maximum, const QString &text) {
    ProgressBar1->setMaximum(maximum);
    ProgressBar1->setValue(position);
    Memo1->appendPlainText(text);
    QCoreApplication::processEvents();
}

void TUpdateGeneratorForm::Button1Click() {
    winutil::guarded(this, [this] {
        QStringList names;
        for (int i = 0; i < CheckListBox1->count(); ++i)
            if (CheckListBox1->item(i)->checkState() == Qt::Checked)
                names << CheckListBox1->item(i)->text();
        if (names.isEmpty())
            return showMessage(QStringLiteral("Выберите хотя бы одну форму"), this);
        if (Edit1->text().isEmpty())
            return showMessage(QStringLiteral("Введите версию обновления"), this);
        if (Edit2->text().isEmpty())
            return showMessage(QStringLiteral("Введите описание обновления"), this);
        if (ComboBox1->currentText().isEmpty())
            return showMessage(QStringLiteral("Выберите год"), this);
        bool yearOk = false;
        const int year = ComboBox1->currentText().trimmed().toInt(&yearOk);
        if (!yearOk)
            return showError(QStringLiteral("\"%1\" не является годом").arg(ComboBox1->currentText()), this);
        QList<FormPackageOptions> options;
        for (const QString &n : names)
            options << FormPackageOptions{n, CheckBox1->isChecked(), CheckBox2->isChecked(), CheckBox3->isChecked(),
                                          Edit3->text(), Edit4->text()};
        const QString output = paths::programFolder() + QStringLiteral("Updates/");
        ForceDirectoryPath(output);
        Button1->setEnabled(false);
        ProgressBar1->setVisible(true);
        Memo1->clear();
        QCoreApplication::processEvents();
        const QString globalVersion = CheckBox4->isChecked() ? Edit5->text() : QString();
        const QString strategy = CheckBox4->isChecked() ? ComboBox2->currentText() : QString();
        m_lastPackage = GenerateUpdatePackage(
            Database, names, options, [this](int p, int m, const QString &t) { ReportProgress(p, m, t); }, strategy,
            globalVersion, output, Edit2->text(), year, Edit1->text());
        if (!m_lastPackage.isEmpty()) {
            ProgressBar1->setValue(100);
            Memo1->appendPlainText(QString());
            Memo1->appendPlainText(QStringLiteral("Пакет обновления успешно создан:"));
            Memo1->appendPlainText(m_lastPackage);
            showMessage(QStringLiteral("Пакет обновления успешно создан!\r\n") + m_lastPackage, this);
        } else {
            showMessage(QStringLiteral("Ошибка при создании пакета обновления. Проверьте логи."), this);
        }
        Button1->setEnabled(true);
        ProgressBar1->setVisible(false);
    });
}

void TUpdateGeneratorForm::Button2Click() { reject(); }

void openUpdateGenerator(QWidget *parent) {
    winutil::guarded(parent, [parent] {
        if (!IsAdminMode())
            return;
        TUpdateGeneratorForm form(parent);
        form.Database = db::isOpen(db::kMain) ? db::connection(db::kMain) : QSqlDatabase();
        form.Year = shared().Year;
        execModal(&form);
    });
}
