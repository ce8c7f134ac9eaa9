#include "app/SubReports.h"

#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "widgets/SumRepF.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QSqlQuery>
#include <memory>

const QString SubReports::kAnnual = QStringLiteral("Годовой");

QString SubReports::valuesFile(qint64 id) {
    return shared().yearFolder() + QStringLiteral("data%1.mdb").arg(id);
}

void SubReports::reload() {
    m_levels.clear();
    m_levels.add(kAnnual, 0);
    QSqlQuery q = db::exec(db::connection(db::kMain), QStringLiteral("select id, name from subreps"));
    while (q.next()) m_levels.add(q.value(1).toString(), q.value(0).toLongLong());
    m_current = 0;
    shared().SubReportId = 0;
}

qint64 SubReports::create(const QString &typed) {
    if (typed.trimmed().isEmpty()) throw db::Error(QStringLiteral("Не указано наименование уровня отчета"));
    const QString name = text::entry(typed);
    const QSqlDatabase main = db::connection(db::kMain);
    qint64 id = 0;
    QString file;
    try {
        db::transaction(main, [&] {
            db::exec(main, QStringLiteral("insert into subreps (name) values (?)"), {name});
            id = db::lastInsertId(main);
            file = valuesFile(id);
            db::copyDatabase(paths::templateValuesFile(), file);
        });
    } catch (...) {
        if (!file.isEmpty()) QFile::remove(file);
        throw;
    }
    m_levels.add(name, id);
    return id;
}

void SubReports::switchTo(int index) {
    if (index < 0 || index >= m_levels.count()) return;
    const qint64 id = m_levels.object(index);
    // A level deleted by another copy of the program since the list was
    // read: its values would go to a file no level names.
    if (id != 0 && !db::scalar(db::connection(db::kMain), QStringLiteral("select 1 from subreps where id=?"), {id})
                        .isValid()) {
        const QString name = m_levels.text(index);
        m_levels.removeAt(index);
        if (m_current > index) --m_current;
        throw db::Error(QStringLiteral("Уровень отчета \"%1\" удален другой копией программы.").arg(name));
    }
    const QString previous = db::fileOf(db::kData);
    QString error;
    if (!db::tryOpen(db::kData, valuesFile(id), db::OpenMode::ReadWrite, &error)) {
        if (!previous.isEmpty()) db::tryOpen(db::kData, previous, db::OpenMode::ReadWrite, nullptr);
        throw db::Error(error);
    }
    m_current = index;
    shared().SubReportId = id;
}

void SubReports::removeCurrent() {
    if (m_current <= 0 || m_current >= m_levels.count()) return;
    const qint64 id = m_levels.object(m_current);
    const QString file = valuesFile(id);
    db::close(db::kData);
    try {
        db::exec(db::connection(db::kMain), QStringLiteral("delete from subreps where id=?"), {id});
    } catch (...) {
        db::tryOpen(db::kData, file, db::OpenMode::ReadWrite, nullptr);
        throw;
    }
    QFile::remove(file);
    m_levels.removeAt(m_current);
    m_current = 0;
    switchTo(0);
}

bool SubReports::createLevel(QWidget *parent) {
    auto dlg = std::make_unique<TSumRepF>(parent);
    dlg->setWindowTitle(QStringLiteral("Введите наименование уровня отчета"));
    dlg->hideNetChoice();
    if (execModal(dlg.get()) != QDialog::Accepted) return false;
    create(dlg->name());
    return true;
}

bool SubReports::deleteCurrentLevel(QWidget *parent) {
    if (m_current <= 0) return false;
    const QString question =
        QStringLiteral("Вы действительно желаете удалить \"%1\"?").arg(m_levels.text(m_current));
    if (!confirm(question, parent)) return false;
    removeCurrent();
    return true;
}
