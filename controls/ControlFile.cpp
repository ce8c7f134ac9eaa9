#include "controls/ControlFile.h"

#include "engine/ControlFileLines.h"
#include "engine/FormulaParser.h"
#include "engine/ImportPolicy.h"
#include "engine/Notation.h"
#include "engine/RuleCheck.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QFileInfo>
#include <QSet>
#include <QSqlQuery>

#include <algorithm>

namespace controls {

namespace {

// A rule between forms as compared: its texts as they are stored (a Tab or
// a line break in a side is a blank) in capitals, the cycle in its one
// spelling.
QString ruleIdentity(const QString &lft, const QString &reltion, const QString &rght, const QString &cycl) {
    const auto side = [](const QString &t) { return text::upper(text::entryLayout(t, text::Field::Formula).trimmed()); };
    return side(lft) + u'\t' + reltion.trimmed() + u'\t' + side(rght) + u'\t' +
           notation::CanonicalCycle(text::upper(text::entryLayout(cycl, text::Field::Formula)));
}

// A rule as compared with the stored ones when a file is loaded: its form,
// its table (none and "" alike, letter case aside), its texts as
// ruleIdentity reads them and its comment as it is stored.
QString storedIdentity(qint64 formId, const QString &table, const QString &lft, const QString &reltion,
                       const QString &rght, const QString &cycl, const QString &comment) {
    return QString::number(formId) + u'\t' + text::upper(table.trimmed()) + u'\t' +
           ruleIdentity(lft, reltion, rght, cycl) + u'\t' + text::entryLayout(comment, text::Field::OneLine);
}

QSet<QString> storedIdentities(const QSqlDatabase &mainDb) {
    QSet<QString> out;
    QSqlQuery q = db::exec(mainDb, QStringLiteral("select formid, tble, lft, reltion, rght, cycl, commnt from int_control"));
    while (q.next())
        out.insert(storedIdentity(q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                                  q.value(3).toString(), q.value(4).toString(), q.value(5).toString(),
                                  q.value(6).toString()));
    return out;
}

// The forms the sides of a rule between forms name; false when one of them
// is no form of the configuration.
bool formsNamed(const rulecheck::RuleChecker &checker, const QStringList &sides, QSet<qint64> &forms) {
    for (const QString &side : sides)
        for (const ReferenceParts &parts : ctlfile::SideReferences(side)) {
            if (!parts.hasForm) continue;
            const qint64 id = checker.formIdByName(parts.form);
            if (id < 0) return false;
            forms.insert(id);
        }
    return true;
}

// "Замещение" of the rules between forms: of those stored, only the ones the
// file carries and the ones whose forms are all among the forms the file
// carries give way; a rule between other forms stays.
void deleteReplacedInterFormRules(const QSqlDatabase &mainDb, const rulecheck::RuleChecker &checker,
                                  const QSet<QString> &fileRules, const QSet<qint64> &fileForms) {
    QList<qint64> doomed;
    QSqlQuery q = db::exec(mainDb, QStringLiteral("select \"Код\", lft, reltion, rght, cycl from int_control where formid=0"));
    while (q.next()) {
        const QString lft = q.value(1).toString(), rght = q.value(3).toString();
        bool replaced = fileRules.contains(ruleIdentity(lft, q.value(2).toString(), rght, q.value(4).toString()));
        if (!replaced) {
            QSet<qint64> forms;
            replaced = formsNamed(checker, {lft, rght}, forms) && !forms.isEmpty() &&
                       std::all_of(forms.begin(), forms.end(), [&](qint64 f) { return fileForms.contains(f); });
        }
        if (replaced) doomed.append(q.value(0).toLongLong());
    }
    for (qint64 key : doomed) db::exec(mainDb, QStringLiteral("delete from int_control where \"Код\"=?"), {key});
}

} // namespace

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
        qint64 formId;   // 0 for a rule between forms
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
        const qint64 formId = l.formName.isEmpty() ? 0 : checker.formIdByName(l.formName);
        accepted.append({l, raw, formId});
        check.accepted(formId);
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
            // Only the forms the file carries are replaced; of the rules
            // between forms (form 0) only those it carries or whose forms it
            // carries all.
            if (mode == LoadMode::Replace) {
                QSet<qint64> fileForms;
                QSet<QString> fileRules;
                for (const Accepted &a : accepted) {
                    if (a.line.formName.isEmpty())
                        fileRules.insert(ruleIdentity(a.line.lft, a.line.reltion, a.line.rght, a.line.cycl));
                    else
                        fileForms.insert(a.formId);
                }
                for (const qint64 formId : check.carried()) {
                    if (formId == 0) deleteReplacedInterFormRules(mainDb, checker, fileRules, fileForms);
                    else db::exec(mainDb, QStringLiteral("delete from int_control where formid=?"), {formId});
                }
            }
            // A rule stored already, in every field, is not stored again: a
            // file loaded twice does not double the rules.
            QSet<QString> stored = storedIdentities(mainDb);
            for (const Accepted &a : accepted) {
                const ControlLine &l = a.line;
                const QString &raw = a.raw;
                const QString identity =
                    storedIdentity(a.formId, l.table, l.lft, l.reltion, l.rght, l.cycl, l.commnt);
                if (stored.contains(identity)) {
                    ++result.alreadyStored;
                    continue;
                }
                try {
                    const rulecheck::Verdict v = rulecheck::InsertCheckedRule(
                        mainDb, checker, {l.formName, l.table, l.lft, l.reltion, l.rght, l.cycl}, l.commnt, nullptr, true);
                    if (!v) throw db::Error(v.reason);
                    ++result.inserted;
                    stored.insert(identity);
                } catch (const db::Error &e) {
                    if (dbError)
                        dbError(QStringLiteral("Ошибка при загрузке строки:\r\nЗагружаемая строка: ") + text::shownField(raw) +
                                QStringLiteral("\r\nОшибка: ") + e.message());
                    result.rejects << QStringLiteral("Ошибка: ") + e.message()
                                   << QStringLiteral("Загружаемая строка: ") + raw << QString();
                }
            }
            // Rolls the deletion back. Lines all stored already change nothing and are no failure.
            if (result.inserted == 0 && (mode == LoadMode::Replace || result.alreadyStored == 0)) throw NoneInserted();
        });
    } catch (const NoneInserted &) {
        writeRejects();
        throw nothingLoaded();
    }
    writeRejects();
    return result;
}

} // namespace controls
