#include "engine/WorkModes.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<ValueTable, const char *>, 3> kTables{{
    {ValueTable::None, ""},
    {ValueTable::Data, "data"},
    {ValueTable::RepData, "repdata"},
}};

constexpr std::array<std::pair<ReportMode, const char *>, 7> kModes{{
    {ReportMode::None, ""},
    {ReportMode::Input, "Input"},
    {ReportMode::Svod, "Svod"},
    {ReportMode::Net, "Net"},
    {ReportMode::Terrain, "Terrain"},
    {ReportMode::Types, "Types"},
    {ReportMode::Single, "Single"},
}};

} // namespace

QString ValueTableName(ValueTable table) {
    if (table == ValueTable::None) table = ValueTable::Data;
    for (const auto &[t, name] : kTables)
        if (t == table) return QLatin1String(name);
    return QString();   // every table has its name above
}

std::optional<ValueTable> valueTableFromName(const QString &name) {
    const QString n = name.trimmed();
    for (const auto &[t, text] : kTables)
        if (n.compare(QLatin1String(text), Qt::CaseInsensitive) == 0) return t;
    return std::nullopt;
}

QString reportModeText(ReportMode mode) {
    for (const auto &[m, text] : kModes)
        if (m == mode) return QLatin1String(text);
    return QString();
}

std::optional<ReportMode> reportModeFromText(const QString &text) {
    for (const auto &[m, t] : kModes)
        if (text == QLatin1String(t)) return m;
    return std::nullopt;
}
