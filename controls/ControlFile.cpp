#include "controls/ControlFile.h"

#include "controls/ControlCheck.h"
#include "controls/ControlRules.h"
#include "engine/Common.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/QuotedFields.h"

#include <QFileInfo>
#include <QSqlQuery>

namespace controls {

namespace {

QString lineOf(const RuleRecord &r) {
    const RuleTexts &t = r.texts;
    return FormatControlLine({r.formId == 0 ? QString() : GetFormNameById(r.formId), r.table, t.lft, t.reltion, t.rght,
                              t.cycl, t.commnt});
}

QStringList linesOf(QSqlQuery &q) {
    QStringList out;
    while (q.next()) out.append(lineOf(RuleRecordOf(q)));
    return out;
}

const QString kFormRules = QStringLiteral(
    "formid=? or (formid=0 and ((lft like ? escape '\\') or (rght like ? escape '\\')))");

QVariantList formRuleParams(qint64 formId, const QString &formName) {
    const QString pattern = u'%' + LikeLiteral(formName) + QStringLiteral("т%");
    return {formId, pattern, pattern};
}

} // namespace

std::optional<ControlLine> ParseControlLine(const QString &raw) {
    QStringList f;
    if (!quoted::split(raw, f) || f.size() != 7) return std::nullopt;
    return ControlLine{f[0], f[1], f[2], f[3], f[4], f[5], f[6]};
}

QString FormatControlLine(const ControlLine &l) {
    return quoted::join({l.formName, l.table, l.lft, l.reltion, l.rght, l.cycl, l.commnt});
}

LoadResult LoadControlFile(const QSqlDatabase &mainDb, const QString &path, LoadMode mode,
                           const std::function<void(const QString &)> &dbError) {
    QStringList lines;
    QString why;
    if (!cp1251::readLines(path, lines, &why))
        throw db::Error(QStringLiteral("Не удалось прочитать файл контролей ") + path +
                        (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    QStringList ruleLines;
    bool anyRule = false;
    for (const QString &l : lines) {
        if (!l.startsWith(u'"')) continue;
        ruleLines.append(l);
        if (ParseControlLine(l)) anyRule = true;
    }
    if (!anyRule)
        throw db::Error(QStringLiteral("Файл ") + QFileInfo(path).fileName() +
                        QStringLiteral(" не содержит ни одного контроля. Контроли не изменены."));

    LoadResult result;
    FileRuleChecker checker(mainDb);
    // Every line is checked before anything changes.
    struct Accepted {
        ControlLine line;
        qint64 formId;
        QString raw;
    };
    QList<Accepted> accepted;
    for (const QString &raw : ruleLines) {
        const std::optional<ControlLine> parsed = ParseControlLine(raw);
        if (!parsed) {
            result.rejects << QStringLiteral("Строка не из семи полей в кавычках") << raw;
            continue;
        }
        ControlLine l = *parsed;
        l.formName = text::upper(l.formName);
        l.lft = text::upper(l.lft);
        l.rght = text::upper(l.rght);
        l.cycl = text::upper(l.cycl);
        if (!checker.CheckLine(l.formName, l.table, l.cycl, l.rght, l.lft, l.reltion)) {
            result.rejects << checker.errorText() << raw;
            continue;
        }
        accepted.append({l, l.formName.isEmpty() ? 0 : checker.formIdByName(l.formName), raw});
    }
    const auto writeRejects = [&] {
        if (result.rejects.isEmpty()) return;
        result.rejectsFile = QFileInfo(path).absolutePath() + u'/' + kRejectsFileName;
        try {
            WriteControlFile(result.rejectsFile, result.rejects);
        } catch (const db::Error &e) {
            // The loaded rules are committed already: only the list is lost.
            result.rejectsError = e.message();
        }
    };
    // Not one line fits: the rules stay as they are, whatever the mode.
    const auto nothingLoaded = [&] {
        QString why = QStringLiteral("Ни одна строка файла ") + QFileInfo(path).fileName() +
                      QStringLiteral(" не загружена. Контроли не изменены.");
        if (!cp1251::readsAsCyrillic(lines))
            why += QStringLiteral("\r\nВозможно, файл записан не в кодировке Windows-1251: "
                                  "сохраните его в этой кодировке и загрузите снова.");
        if (!result.rejectsFile.isEmpty() && result.rejectsError.isEmpty())
            why += QStringLiteral("\r\nПричины см. в файле \"") + kRejectsFileName + u'"';
        return db::Error(why);
    };
    if (accepted.isEmpty()) {
        writeRejects();
        throw nothingLoaded();
    }
    struct NoneInserted {};
    try {
        db::transaction(mainDb, [&] {
            if (mode == LoadMode::Replace) db::exec(mainDb, QStringLiteral("delete from int_control"));
            for (const Accepted &a : accepted) {
                const ControlLine &l = a.line;
                const QString &raw = a.raw;
                const qint64 formId = a.formId;
                try {
                    db::exec(mainDb,
                             QStringLiteral("insert into int_control (formid,tble,lft,rght,reltion,cycl,commnt) "
                                            "values (?,?,?,?,?,?,?)"),
                             {formId, l.table.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(l.table),
                              l.lft, l.rght, l.reltion, l.cycl, l.commnt});
                    ++result.inserted;
                } catch (const db::Error &e) {
                    if (dbError)
                        dbError(QStringLiteral("Ошибка при загрузке строки:\r\nЗагружаемая строка: ") + raw +
                                QStringLiteral("\r\nОшибка: ") + e.message());
                    result.rejects << QStringLiteral("Ошибка: ") + e.message()
                                   << QStringLiteral("Загружаемая строка: ") + raw << QString();
                }
            }
            if (result.inserted == 0) throw NoneInserted();   // rolls the deletion back
        });
    } catch (const NoneInserted &) {
        writeRejects();
        throw nothingLoaded();
    }
    writeRejects();
    return result;
}

QStringList ControlFileLinesForKeys(const QSqlDatabase &mainDb, const QList<qint64> &keys) {
    QStringList out;
    for (qint64 key : keys)
        if (const std::optional<RuleRecord> r = ReadRule(mainDb, key)) out.append(lineOf(*r));
    return out;
}

QStringList ControlFileLinesAll(const QSqlDatabase &mainDb) {
    QSqlQuery q = db::exec(mainDb, QStringLiteral("select * from int_control order by \"Код\""));
    return linesOf(q);
}

QStringList ControlFileLinesForForm(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    QSqlQuery q = db::exec(mainDb,
                           QStringLiteral("select * from int_control where ") + kFormRules +
                               QStringLiteral(" order by tble,lft,rght"),
                           formRuleParams(formId, formName));
    return linesOf(q);
}

int DeleteFormRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName) {
    QSqlQuery q = db::exec(mainDb, QStringLiteral("delete from int_control where ") + kFormRules,
                           formRuleParams(formId, formName));
    return q.numRowsAffected();
}

void WriteControlFile(const QString &path, const QStringList &lines) {
    QString why;
    if (!cp1251::writeLines(path, lines, &why))
        throw db::Error(QStringLiteral("Не удалось записать файл ") + path +
                        (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
}

} // namespace controls
