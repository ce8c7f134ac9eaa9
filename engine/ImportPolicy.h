#pragma once
// The one policy of every import that replaces a set of stored things from a
// file (the calculated-cell conditions of a form, the control rules, the
// imported control book, the values of an institution, a form, a table or a
// summary report):
//  - the whole file is read and checked before anything changes;
//  - a line of a form or table this configuration does not know is skipped,
//    counted and named in the closing message;
//  - when not one line is accepted nothing is deleted, and the refusal says
//    why (an empty file, no line of the target, unknown forms and tables, a
//    hint at another encoding);
//  - only the targets (tables) the accepted lines carry are replaced.
// An import goes through ImportCheck: it counts its lines here and asks
// requireAccepted() before its transaction begins.
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace importpolicy {

// Lines of unknown forms and tables, by the name they give ("Ф99 (1000)").
class UnknownTargets {
public:
    void add(const QString &form, const QString &table, int lines = 1);
    void merge(const UnknownTargets &other);
    int lines() const { return m_lines; }
    bool isEmpty() const { return m_lines == 0; }
    // "Строки неизвестных форм и таблиц пропущены: N (Ф99 (1000), …)", or
    // empty when there were none. Names at most ten of them.
    QString note() const;
    // The same under another heading ("Строки форм, которых нет у типа учреждения, пропущены").
    QString note(const QString &heading) const;

private:
    QStringList m_order;            // first-seen order
    QMap<QString, int> m_count;
    int m_lines = 0;
};

class ImportCheck {
public:
    // path: the file; nothing: the sentence when the file has lines but none
    // for the target ("В файле X нет условий формы Ф47."); kept: what stays
    // ("Условия не изменены.").
    ImportCheck(const QString &path, QString nothing, QString kept);

    void line() { ++m_lines; }                                  // a line that is not blank
    void accepted(qint64 target);                               // a line taken for this target
    void unknown(const QString &form, const QString &table) { m_unknown.add(form, table); }
    void refused(const QString &why);                           // a line refused with its reason

    int lines() const { return m_lines; }
    int acceptedLines() const { return m_accepted; }
    // The targets of the accepted lines, in first-seen order: only these are replaced.
    const QList<qint64> &carried() const { return m_carried; }
    const UnknownTargets &unknownTargets() const { return m_unknown; }

    // Throws db::Error with refusal() when not one line was accepted.
    void requireAccepted(const QStringList &extraNotes = {}) const;
    QString refusal(const QStringList &extraNotes = {}) const;
    // The notes a successful import adds to its closing message.
    QString closingNotes() const { return m_unknown.note(); }

private:
    QString m_path, m_nothing, m_kept;
    int m_lines = 0, m_accepted = 0;
    QList<qint64> m_carried;
    UnknownTargets m_unknown;
    QStringList m_refused;
};

// The hint a refusal adds when the file's bytes read as UTF-8 or UTF-16.
QString encodingHint(const QString &path);

// done + "\n" + each note that is not empty.
QString withNotes(const QString &done, const QStringList &notes);

} // namespace importpolicy
