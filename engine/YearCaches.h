#pragma once
// The lookup caches of the open year as named records: forms, tables with
// their shapes, the administrative structure and the indicator sets. Filled by
// engine/Caches from the main database, held in shared().Caches.
#include "engine/TableShape.h"
#include "engine/TextUtil.h"

#include <QList>
#include <QString>
#include <QtGlobal>

struct CachedForm {
    qint64 id = 0;
    QString name;         // formname in capitals
    QString decipher;
    bool net = false;
    // "ФОРМА - decipher", as the form lists show it.
    QString caption() const { return name + QStringLiteral(" - ") + decipher; }
};

struct CachedTable {
    qint64 formId = 0;
    QString formName;     // capitals
    QString tablen;       // table key with its parentheses, "(1000)"
    QString name;
    TableShape shape;
    // "ФОРМА*Т(1000) - name", as the table lists show it.
    QString caption() const { return formName + QStringLiteral("*Т") + tablen + QStringLiteral(" - ") + name; }
    // Same form (letter case ignored in the key) and table key.
    bool is(const QString &upperFormName, const QString &tableKey) const {
        return text::sameName(formName, upperFormName) && text::sameName(tablen, tableKey);
    }
};

// A unit of the administrative structure.
struct StructNode {
    qint64 id = 0;
    qint64 parent = 0;    // dependence; 0 at the top
    QString unit;
    int treeIndex = -1;   // position in tree order once the territory tree is built
};

// A set of the indicator tree.
struct TreeNode {
    qint64 ident = 0;
    qint64 depend = 0;    // parent set; 0 at the top
    QString part;
};

struct YearCaches {
    QList<CachedForm> forms;          // in "ind" order
    QList<CachedTable> tables;        // by form, tablen
    QList<StructNode> structure;      // by dependence, ind
    QList<TreeNode> tree;             // by depend, then sets in name order

    void clear() { *this = YearCaches(); }
    bool isEmpty() const { return forms.isEmpty() && tables.isEmpty() && structure.isEmpty() && tree.isEmpty(); }
    const CachedForm *form(qint64 id) const {
        for (const CachedForm &f : forms)
            if (f.id == id) return &f;
        return nullptr;
    }
    // The first entry of the table ident; nullptr when none.
    const CachedTable *table(qint64 ident) const {
        for (const CachedTable &t : tables)
            if (t.shape.ident == ident) return &t;
        return nullptr;
    }
};
