#include "forms/shared/AdmFormLogic.h"

#include "engine/Lookups.h"
#include "engine/Populations.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Errors.h"
#include "forms/shared/TransferFiles.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>

namespace adm {

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

bool isPopulationNumber(const QString &s) {
    static const QRegularExpression re(QStringLiteral("^[0-9]{1,8}$"));
    return re.match(s.trimmed()).hasMatch();
}

QString populationText(const QVariant &v) {
    if (!v.isValid() || v.isNull()) return QString();
    return QString::number(v.toLongLong());
}

// Stores a checked population of the unit for the year.
void writePopulation(const QSqlDatabase &d, qint64 id, const Population &population, int year) {
    StorePopulation(d, PopulationTable::Units, id, year,
                    {population.common.trimmed().toLongLong(), population.olds.trimmed().toLongLong(),
                     population.teens.trimmed().toLongLong(), population.childs.trimmed().toLongLong()});
}

QString unitGone() {
    return QStringLiteral("Подразделение удалено в другом окне или другой копией программы. Изменение не сохранено: "
                          "откройте окно заново.");
}

} // namespace

QList<QPair<QString, qint64>> medTypes() {
    QList<QPair<QString, qint64>> out;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select id, type from medicaltypes order by id"));
    while (q.next()) out.append({q.value(1).toString(), q.value(0).toLongLong()});
    return out;
}

QString checkUnit(const UnitInfo &unit) {
    if (unit.name.trimmed().isEmpty()) return QStringLiteral("Не указано наименование подразделения.");
    // A line break or a control character cannot travel in a file name or a line of a file.
    for (const QChar c : unit.name)
        if (c.unicode() < 32 && c != QLatin1Char('\t'))
            return QStringLiteral("Наименование подразделения не может содержать переводы строк и управляющие символы.");
    return text::entryProblem(unit.name, QStringLiteral("Наименование подразделения"));
}

// Refuses (db::Error with the message) a unit or population that cannot be stored.
static void requireValid(const UnitInfo &unit, const std::optional<Population> &population) {
    QString why = checkUnit(unit);
    if (why.isEmpty() && population) why = checkPopulation(*population);
    if (!why.isEmpty()) throw db::Error(why);
}

qint64 addUnit(qint64 parentId, const UnitInfo &unit, const std::optional<Population> &population, int year) {
    requireValid(unit, population);
    const QSqlDatabase d = mainDb();
    qint64 id = 0;
    db::transaction(d, [&] {
        // Under a unit deleted behind the window it would never be shown.
        if (parentId != 0)
            db::requireRow(d, QStringLiteral("select 1 from administration where id=?"), {parentId},
                           QStringLiteral("Подразделение, в которое добавляется новое, удалено в другом окне. "
                                          "Подразделение не добавлено."));
        db::exec(d, QStringLiteral("insert into administration (unit,dependence,medicaltype,country,ind) "
                                   "values (?,?,?,?,9999)"),
                 {text::entry(unit.name).trimmed(), parentId, unit.medicalType, unit.country});
        id = db::lastInsertId(d);
        if (population) writePopulation(d, id, *population, year);
    });
    return id;
}

UnitInfo readUnit(qint64 id) {
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select unit, medicaltype, country from administration where id=?"),
                           {id});
    if (!q.next()) throw db::Error(QStringLiteral("Подразделение не найдено (код %1).").arg(id));
    UnitInfo u;
    u.name = q.value(0).toString();
    u.medicalType = q.value(1).isNull() ? -1 : q.value(1).toLongLong();
    u.country = db::storedYes(q.value(2));
    return u;
}

qint64 medicalTypeOf(qint64 id) {
    const QVariant v = db::scalar(mainDb(), QStringLiteral("select medicaltype from administration where id=?"), {id});
    return v.isValid() && !v.isNull() ? v.toLongLong() : -1;
}

QList<qint64> childIds(qint64 id) {
    QList<qint64> out;
    for (const QVariant &v : db::column(mainDb(),
                                        QStringLiteral("select id from administration where dependence=? "
                                                       "order by ind, id"),
                                        {id}))
        out.append(v.toLongLong());
    return out;
}

std::optional<Population> readPopulation(qint64 unit, int year) {
    QSqlQuery q = db::exec(mainDb(),
                           QStringLiteral("select common, olds, teens, childs from populations1 where year=? and unit=?"),
                           {year, unit});
    if (!q.next()) return std::nullopt;
    return Population{populationText(q.value(0)), populationText(q.value(1)), populationText(q.value(2)),
                      populationText(q.value(3))};
}

Population sumPopulation(const QList<qint64> &units, int year) {
    if (units.isEmpty()) return {};
    QSqlQuery q = db::exec(mainDb(),
                           QStringLiteral("select sum(common), sum(olds), sum(teens), sum(childs) from populations1 "
                                          "where year=? and unit in (%1)").arg(db::inList(units)),
                           {year});
    if (!q.next()) return {};
    return Population{populationText(q.value(0)), populationText(q.value(1)), populationText(q.value(2)),
                      populationText(q.value(3))};
}

QString checkPopulation(const Population &p) {
    const QPair<QString, QString> fields[] = {{p.common, QStringLiteral("Всего")},
                                              {p.olds, QStringLiteral("Взрослые")},
                                              {p.teens, QStringLiteral("Подростки")},
                                              {p.childs, QStringLiteral("Дети")}};
    for (const auto &f : fields) {
        if (f.first.trimmed().isEmpty())
            return QStringLiteral("Не заполнено поле численности \"%1\".").arg(f.second);
        if (!isPopulationNumber(f.first))
            return QStringLiteral("Численность \"%1\" должна быть целым числом (не более восьми цифр).")
                .arg(f.second);
    }
    return QString();
}

void saveUnit(qint64 id, const UnitInfo &unit, const std::optional<Population> &population, int year) {
    requireValid(unit, population);
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        // The unit first: one deleted behind the window takes no population either.
        db::execRow(d, QStringLiteral("update administration set unit=?, medicaltype=?, country=? where id=?"),
                    {text::entry(unit.name).trimmed(), unit.medicalType, unit.country, id}, unitGone());
        if (population) writePopulation(d, id, *population, year);
    });
}

QStringList deleteUnit(qint64 id, int year) {
    const QSqlDatabase m = mainDb(), values = db::connection(db::kData);
    if (!db::column(m, QStringLiteral("select id from administration where dependence=? and id<>?"), {id, id})
             .isEmpty())
        throw db::Error(QStringLiteral("Подразделение, в которое входят другие, удалить нельзя."));
    QStringList changed;
    // The values go only when the unit and the reports' lists do: a failure
    // in the main database takes the deletion of the values back.
    db::transaction(values, [&] {
        db::exec(values, QStringLiteral("delete from %1 where year=? and hospital=?").arg(ValueTableName(ValueTable::Data)), {year, id});
        db::transaction(m, [&] {
            QList<std::tuple<qint64, QString, QString>> updates;
            QSqlQuery q = db::exec(m, QStringLiteral("select id, report, include from reports order by ind, id"));
            while (q.next()) {
                const QList<qint64> members = text::parseIdList(q.value(2).toString());
                if (!members.contains(id)) continue;
                QList<qint64> kept = members;
                kept.removeAll(id);
                // Stored as the includes dialog stores it: each id followed by ",".
                updates.append({q.value(0).toLongLong(), q.value(1).toString(),
                                kept.isEmpty() ? QString() : text::joinIdList(kept) + QLatin1Char(',')});
            }
            for (const auto &[report, name, include] : updates) {
                db::execRow(m, QStringLiteral("update reports set include=? where id=?"), {include, report},
                            QStringLiteral("Отчет %1 удален в другом окне").arg(name));
                changed.append(name);
            }
            db::exec(m, QStringLiteral("delete from administration where id=?"), {id});
        });
    });
    return changed;
}

void saveOrder(const QList<UnitNode> &topLevel) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        QSqlQuery q(d);
        q.prepare(QStringLiteral("update administration set ind=? where id=?"));
        const std::function<void(const QList<UnitNode> &)> store = [&](const QList<UnitNode> &siblings) {
            for (int i = 0; i < siblings.size(); ++i) {
                q.bindValue(0, i);
                q.bindValue(1, siblings[i].id);
                if (!q.exec()) throw db::statementFailure(d, q.lastQuery(), q.lastError());
                if (q.numRowsAffected() <= 0)
                    throw db::Error(QStringLiteral("Подразделение \"%1\" удалено в другом окне. Порядок не сохранен: "
                                                   "откройте окно заново.").arg(siblings[i].name));
                store(siblings[i].children);
            }
        };
        store(topLevel);
    });
}

void moveUnit(qint64 unit, qint64 parent) {
    const QSqlDatabase m = mainDb();
    db::transaction(m, [&] {
        if (parent != 0)
            db::requireRow(m, QStringLiteral("select 1 from administration where id=?"), {parent}, unitGone());
        db::execRow(m, QStringLiteral("update administration set dependence=? where id=?"), {parent, unit}, unitGone());
    });
}

QString levelName() {
    const int id = shared().SubReportId;
    if (id == 0) return QStringLiteral("Годовой");
    const QVariant v = db::scalar(mainDb(), QStringLiteral("select name from subreps where id=?"), {id});
    return v.isValid() ? v.toString() : QStringLiteral("Годовой");
}

static GroupLoadResult loadFiles(
    const QStringList &files, const FileProgress &progress,
    const std::function<transfer::LoadResult(qint64, const QString &, const transfer::ParsedFile &)> &loadOne) {
    GroupLoadResult r;
    // Each file goes to exactly one institution. Two files of one
    // institution refuse the whole group before anything is written: the
    // second would silently replace the first.
    const transfer::UnitNames units;
    QList<qint64> idOf;
    QHash<qint64, int> fileOfUnit;
    for (int i = 0; i < files.size(); ++i) {
        const transfer::UnitNames::Match m = units.match(files[i]);
        idOf.append(m.id);
        if (m.id == -2) {
            QStringList fits;
            for (const qint64 id : m.candidates) fits.append(units.pathOf(id));
            r.failures.append(QFileInfo(files[i]).fileName() +
                              QStringLiteral(": учреждение не определено однозначно (подходят: %1); "
                                             "файл не загружен")
                                  .arg(fits.join(QStringLiteral("; "))));
            continue;
        }
        if (m.id < 0) continue;
        if (fileOfUnit.contains(m.id))
            throw db::Error(QStringLiteral("Файлы %1 и %2 относятся к одному учреждению (%3). Данные не загружены.")
                                .arg(QDir::toNativeSeparators(files[fileOfUnit.value(m.id)]),
                                     QDir::toNativeSeparators(files[i]), text::shownField(units.pathOf(m.id))));
        fileOfUnit.insert(m.id, i);
    }
    // One transaction for the group. Every file is checked whole before it
    // is written, so a refused file changes nothing and the others load; a
    // write that fails, and "Отмена", take the whole group back.
    // The next files are read while one is written (only those of an institution).
    QStringList toRead;
    for (int i = 0; i < files.size(); ++i) toRead.append(idOf[i] >= 0 ? files[i] : QString());
    // While a file is still being read the progress is told again: the
    // window paints and answers "Отмена".
    int current = 0;
    QString currentName;
    transfer::ReadAhead ahead(toRead, 2, [&] {
        if (progress) progress(current, currentName);
    });
    const db::BulkWork bulk(db::connection(db::kData), db::BulkWork::Temp::InMemory);
    db::transaction(db::connection(db::kData), [&] {
    for (int i = 0; i < files.size(); ++i) {
        const QString &f = files[i];
        const QString name = transfer::unitNameOfFile(f);
        current = i;
        currentName = name;
        if (progress) progress(i, name);
        try {
            const qint64 id = idOf[i];
            if (id == -2) continue;
            if (id < 0) {
                r.missingUnits.append(name);
                continue;
            }
            const transfer::LoadResult one = loadOne(id, f, ahead.take(i));
            if (!one.emptiedForms.isEmpty()) r.emptied.append({units.pathOf(id), one.emptiedForms});
            r.outside += one.outside;
            r.unknown.merge(one.unknown);
            r.otherType.merge(one.otherType);
            ++r.loaded;
        } catch (const Cancelled &) {
            throw;
        } catch (const transfer::WriteFailed &) {
            throw;
        } catch (const std::exception &e) {
            r.failures.append(QFileInfo(f).fileName() + QStringLiteral(": ") + winutil::errorText(e));
        }
    }
    // The last report may answer "Отмена": before the commit, so that a
    // stopped group is taken back whole. Once committed, nothing stops it.
    if (progress) progress(int(files.size()), QString());
    });
    return r;
}

GroupLoadResult loadUnitFiles(const QStringList &files, const QString &groupLoadForms, bool clearChosenOnly,
                              const FileProgress &progress, const std::function<void(int, int)> &lineProgress,
                              const EmptiedOfUnit *knownEmptied) {
    static const QStringList none;
    return loadFiles(files, progress, [&](qint64 id, const QString &f, const transfer::ParsedFile &file) {
        const QStringList *emptied = nullptr;
        if (knownEmptied) {
            const auto found = knownEmptied->constFind(id);
            emptied = found != knownEmptied->constEnd() ? &*found : &none;
        }
        return transfer::LoadUnitInfo(id, f, file, groupLoadForms, clearChosenOnly, lineProgress,
                                      transfer::Writing::IntoRunning, emptied);
    });
}

QList<transfer::Emptied> formsEmptiedByUnitFiles(const QStringList &files, const QString &groupLoadForms,
                                                 bool clearChosenOnly, const FileProgress &progress,
                                                 EmptiedOfUnit *ofUnit) {
    QList<transfer::Emptied> out;
    const transfer::UnitNames units;
    // Reading is most of the work: a few files at a time, beside the questions to the database.
    int current = 0;
    transfer::ReadAhead ahead(files, std::clamp(QThread::idealThreadCount() - 1, 2, 4), [&] {
        if (progress) progress(current, QFileInfo(files[current]).fileName());
    });
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString &f = files[i];
        current = int(i);
        if (progress) progress(int(i), QFileInfo(f).fileName());
        const qint64 id = units.idOfFile(f);
        if (id < 0) continue;
        try {
            const QStringList forms =
                transfer::formsEmptiedByUnitLoad(id, f, ahead.take(i), groupLoadForms, clearChosenOnly);
            if (!forms.isEmpty()) {
                out.append({units.pathOf(id), forms});
                if (ofUnit) ofUnit->insert(id, forms);
            }
        } catch (const db::Error &) {
            // The load refuses this file and says why.
        }
    }
    return out;
}

GroupLoadResult loadTableFiles(const QStringList &files, qint64 tableIdent, const FileProgress &progress) {
    return loadFiles(files, progress, [&](qint64 id, const QString &f, const transfer::ParsedFile &file) {
        return transfer::LoadTableFromFile(id, f, file, tableIdent, transfer::Writing::IntoRunning);
    });
}

QList<bool> formChoiceTicks(const QString &groupLoadForms) {
    const QStringList chosen = SplitFormNameList(groupLoadForms);
    QList<bool> out;
    for (const CachedForm &form : shared().Caches.forms) out.append(chosen.contains(form.name));
    return out;
}

QString formChoiceResult(const QList<bool> &ticks, bool all) {
    if (all) return QString();
    QStringList names;
    const QList<CachedForm> &forms = shared().Caches.forms;
    for (int i = 0; i < forms.size() && i < ticks.size(); ++i)
        if (ticks[i]) names.append(forms[i].name);
    return names.join(QLatin1Char(','));
}

} // namespace adm
