#include "controls/ZenkorImporter.h"
#include "controls/ZenkorLinks.h"

#include "engine/TextUtil.h"
#include "platform/Paths.h"

// ---- NameValueList ---------------------------------------------------------

int NameValueList::indexOfName(const QString &name) const { return m_index.value(text::upper(name), -1); }

QString NameValueList::value(const QString &name) const {
    const int i = indexOfName(name);
    return i >= 0 ? m_items[i].second : QString();
}

void NameValueList::setValue(const QString &name, const QString &value) {
    const int i = indexOfName(name);
    if (i >= 0) {
        m_items[i].second = value;
    } else {
        m_index.insert(text::upper(name), int(m_items.size()));
        m_items.append({name, value});
    }
}

void NameValueList::remove(const QString &name) {
    const int i = indexOfName(name);
    if (i < 0) return;
    m_items.removeAt(i);
    m_index.clear();
    for (int k = 0; k < m_items.size(); ++k) m_index.insert(text::upper(m_items[k].first), k);
}

// ---- importer object -------------------------------------------------------

TControlMatchImporter::TControlMatchImporter(const QString &query, const NameValueList *formCodeMap,
                                             bool debugTrace, const QString &linksPath)
    : Query(query), FormCodeMap(formCodeMap), DebugTrace(debugTrace), LinksPath(linksPath) {}

TControlMatchImporter::~TControlMatchImporter() = default;

QString TControlMatchImporter::linksFile() const {
    if (!LinksPath.isEmpty()) return LinksPath;
    return paths::withSlash(paths::programFolder()) + QStringLiteral("Links.mdb");
}

QString TControlMatchImporter::NormalizeFormCode(const QString &code) {
    QString c = code.trimmed();
    if (c.size() == 5) return c;
    c += QStringLiteral("00");
    while (c.size() < 5) c.prepend(QLatin1Char('0'));
    return c.left(5);
}

// ---- control-book line -----------------------------------------------------

bool TControlMatchImporter::ParseControlLine(const QString &line, ZenkorControlLine &out) const {
    out = ZenkorControlLine();
    const QString s = line.trimmed();
    if (s.isEmpty()) return false;

    QString expr;
    if (s.size() >= 8) {
        out.bookNumber = s.mid(0, 2);
        out.conditionNumber = s.mid(2, 6);
        const int comma = s.indexOf(QLatin1Char(','));   // 0-based
        if (comma < 0) return false;
        const int pos = comma + 1;                        // 1-based
        if (pos >= 11) {
            out.errorType = s.mid(8, 2);
            expr = s.mid(10);
        } else if (pos >= 9) {
            out.errorType = s.mid(8, comma - 8);
            expr = s.mid(comma);
        } else {
            out.bookNumber.clear();
            out.conditionNumber.clear();
            out.errorType.clear();
            expr = s;
        }
    } else {
        expr = s;
    }

    if (expr.endsWith(QLatin1Char('*'))) expr.chop(1);

    static const char *const relations[] = {">=", "<=", "<>", ">", "<", "="};
    QString relation;
    int at = -1;
    for (const char *r : relations) {
        at = expr.indexOf(QLatin1String(r));
        if (at >= 0) {
            relation = QLatin1String(r);
            break;
        }
    }
    if (at < 0) return false;

    out.left = expr.left(at).trimmed();
    out.right = expr.mid(at + relation.size()).trimmed();
    out.relation = relation;
    out.lineId = s.left(12);
    while (out.lineId.size() < 12) out.lineId += QLatin1Char('0');
    return true;
}
