#include "controls/ControlFile.h"

#include "engine/ImportPolicy.h"
#include "engine/RuleCheck.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QFileInfo>
#include <QSqlQuery>

namespace controls {

LoadResult LoadControlFile(const QSqlDatabase &mainDb, const QString &path, LoadMode mode,
                           const std::function<void(const QString &)> &dbError) {
    QStringList lines;
    QString why;
    if (!cp1251::readLines(path, lines, &why))
        throw db::Error(QStringLiteral("Не удалось прочитать файл контролей ") + path +
                        (why.isEmpty() ? QString() : QStringLiteral(": ") + why) +
                        QStringLiteral("\r\nКонтроли не изменены."));
    QStringList ruleLines;
    bool anyRule = false;
    for (const QString &l : lines) {
        if (!l.startsWith(u'"')) continue;
        ruleLines.append(l);
        if (ParseControlLine(l)) anyRule = true;
    }
    // The import policy (engine/ImportPolicy): nothing changes unless a line is accepted.
    importpolicy::ImportCheck check(path,
                                    QStringLiteral("Ни одна строка файла ") +
                                        text::shownField(QFileInfo(path).fileName()) + QStringLiteral(" не загружена."),
                                    QStringLiteral("Контроли не изменены."));
    if (!anyRule)
        throw db::Error(QStringLiteral("Файл ") + text::shownField(QFileInfo(path).fileName()) +
                        QStringLiteral(" не содержит ни одного контроля. Контроли не изменены."));

    LoadResult result;
    const rulecheck::RuleChecker checker(mainDb);
    // Every line is checked before anything changes.
    struct Accepted {
        ControlLine line;
        QString raw;
    };
    QList<Accepted> accepted;
    for (const QString &raw : ruleLines) {
        check.line();
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
        if (const rulecheck::Verdict v = checker.Check({l.formName, l.table, l.lft, l.reltion, l.rght, l.cycl}); !v) {
            result.rejects << v.reason << raw;
            continue;
        }
        accepted.append({l, raw});
        check.accepted(l.formName.isEmpty() ? 0 : checker.formIdByName(l.formName));
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
        QString why = check.refusal();
        if (!result.rejectsFile.isEmpty() && result.rejectsError.isEmpty())
            why += QStringLiteral("\r\nПричины см. в файле \"") + kRejectsFileName + u'"';
        return db::Error(why);
    };
    if (check.acceptedLines() == 0) {
        writeRejects();
        throw nothingLoaded();
    }
    struct NoneInserted {};
    try {
        db::transaction(mainDb, [&] {
            // Only the forms the file carries are replaced; the rules between
            // forms (form 0) are one class of their own.
            if (mode == LoadMode::Replace)
                for (const qint64 formId : check.carried())
                    db::exec(mainDb, QStringLiteral("delete from int_control where formid=?"), {formId});
            for (const Accepted &a : accepted) {
                const ControlLine &l = a.line;
                const QString &raw = a.raw;
                try {
                    const rulecheck::Verdict v = rulecheck::InsertCheckedRule(
                        mainDb, checker, {l.formName, l.table, l.lft, l.reltion, l.rght, l.cycl}, l.commnt, nullptr, true);
                    if (!v) throw db::Error(v.reason);
                    ++result.inserted;
                } catch (const db::Error &e) {
                    if (dbError)
                        dbError(QStringLiteral("Ошибка при загрузке строки:\r\nЗагружаемая строка: ") + text::shownField(raw) +
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

} // namespace controls
