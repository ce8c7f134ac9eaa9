#pragma once
// Sub-report levels of the open year: the annual level "Годовой" (id 0,
// values in data0.mdb) and one level per row of subreps (values in
// data<id>.mdb). Keeps the level list that the main window shows and points
// the values connection at the chosen level.
#include "engine/StringList.h"

#include <QString>

class QWidget;

class SubReports {
public:
    static const QString kAnnual;   // "Годовой"

    const StringList &list() const { return m_levels; }
    int currentIndex() const { return m_current; }
    qint64 currentId() const { return m_levels.isEmpty() ? 0 : m_levels.object(m_current); }
    QString currentName() const { return m_levels.isEmpty() ? kAnnual : m_levels.text(m_current); }
    // The delete command is offered exactly for a level other than the annual one.
    bool canDeleteCurrent() const { return m_current > 0; }

    // Values file of a level in the open year.
    static QString valuesFile(qint64 id);

    // Rebuilds the list from subreps of the main database and chooses the
    // annual level (the values connection is not touched).
    void reload();

    // Adds a level: a subreps row and a values file made from the template,
    // both or neither. The current level does not change. Returns the new id.
    // Throws db::Error (empty name included).
    qint64 create(const QString &name);

    // Points the values connection at level `index`. When the file cannot
    // be opened the previous level stays open and db::Error is thrown; a
    // level whose row is gone (deleted by another copy of the program) is
    // taken out of the list and db::Error says so.
    void switchTo(int index);

    // Removes the current level (row, file, list item) and returns to the
    // annual level. The annual level itself is never removed.
    void removeCurrent();

    // Dialog-driven commands (through the dialog seam); false when nothing changed.
    bool createLevel(QWidget *parent);   // "Создать подотчет"
    bool deleteCurrentLevel(QWidget *parent);   // "Удалить текущий подотчет"

private:
    StringList m_levels;
    int m_current = 0;
};
