// The list of updates a server offers and the manifest of an update archive
// (updates/UpdateLists), read from a file as the update service reads them.
// Oracles: what either reader takes, it reads as the JSON parser reads the
// same text: every string a field holds there is the field's value, and a
// field the object lacks is empty; the list's entries and the manifest's
// forms come in the array's order.
#include "fuzz/Fuzz.h"

#include "updates/UpdateLists.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The object's string field as the JSON parser reads it; nothing when the
// field is there but holds no string (numbers and the like are not compared).
std::optional<QString> field(const QJsonObject &o, const char *key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) return QString();
    if (v.isString()) return v.toString();
    return std::nullopt;
}

std::optional<QStringList> strings(const QJsonObject &o, const char *key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) return QStringList();
    if (!v.isArray()) return std::nullopt;
    QStringList out;
    for (const QJsonValue &e : v.toArray()) {
        if (!e.isString()) return std::nullopt;
        out << e.toString();
    }
    return out;
}

void same(const std::optional<QString> &expected, const QString &read, const char *what) {
    if (expected)
        fuzz::check(*expected == read, "a field is read as the JSON parser reads it",
                    QString::fromUtf8(what) + QStringLiteral(": ") + *expected + QStringLiteral(" / ") + read);
}

void same(const std::optional<QStringList> &expected, const QStringList &read, const char *what) {
    if (expected)
        fuzz::check(*expected == read, "a list is read as the JSON parser reads it",
                    QString::fromUtf8(what) + QStringLiteral(": ") + expected->join(u',') + QStringLiteral(" / ") +
                        read.join(u','));
}

// The array's elements as the readers take them: strings and objects, up to
// the first element of another kind.
QJsonArray leading(const QJsonValue &v) {
    QJsonArray out;
    for (const QJsonValue &e : v.toArray()) {
        if (!e.isString() && !e.isObject()) break;
        out.append(e);
    }
    return out;
}

} // namespace

void fuzz::input(const QByteArray &input) {
    const QString path = fuzz::writeInput(input, QStringLiteral("input.json"));
    QString text;
    if (!ReadJsonFile(path, text)) return;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject top = doc.object();

    TUpdatesList list;
    if (LoadUpdatesListFile(list, path) && doc.isObject() && top.value(QStringLiteral("updates")).isArray()) {
        same(field(top, "year"), list.year, "year");
        same(field(top, "lastUpdate"), list.lastUpdate, "lastUpdate");
        const QJsonArray items = leading(top.value(QStringLiteral("updates")));
        fuzz::check(items.size() == list.items.size(), "the list has the array's entries");
        for (int i = 0; i < items.size(); ++i) {
            const UpdateEntry &u = list.items[i];
            if (items[i].isString()) {
                fuzz::check(u.id == items[i].toString(), "an entry given as a string is its id");
                continue;
            }
            const QJsonObject o = items[i].toObject();
            same(field(o, "id"), u.id, "id");
            same(field(o, "version"), u.version, "version");
            same(field(o, "releaseDate"), u.releaseDate, "releaseDate");
            same(field(o, "description"), u.description, "description");
            same(strings(o, "forms"), u.forms, "forms");
            same(field(o, "downloadUrl"), u.downloadUrl, "downloadUrl");
            same(field(o, "checksum"), u.checksum, "checksum");
        }
    }

    TUpdateManifest m;
    if (LoadManifestFromFile(m, path)) {
        fuzz::check(doc.isObject() && top.value(QStringLiteral("forms")).isArray(),
                    "a manifest is taken only whole, with its list of forms");
        same(field(top, "version"), m.version, "version");
        same(field(top, "year"), m.year, "year");
        same(field(top, "description"), m.description, "description");
        const QJsonArray forms = leading(top.value(QStringLiteral("forms")));
        fuzz::check(forms.size() == m.forms.size(), "the manifest has the array's forms");
        for (int i = 0; i < forms.size(); ++i) {
            const FormUpdateEntry &f = m.forms[i];
            if (forms[i].isString()) {
                fuzz::check(f.formName == forms[i].toString(), "a form given as a string is its name");
                continue;
            }
            const QJsonObject o = forms[i].toObject();
            same(field(o, "formName"), f.formName, "formName");
            same(field(o, "formFile"), f.formFile, "formFile");
            same(field(o, "formVersion"), f.formVersion, "formVersion");
            same(field(o, "controlsFile"), f.controlsFile, "controlsFile");
            same(field(o, "controlsVersion"), f.controlsVersion, "controlsVersion");
            same(strings(o, "printFiles"), f.printFiles, "printFiles");
        }
    }
    return;
}
