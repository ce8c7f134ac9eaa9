# Fails when form names or table numbers are compared past the one
# comparison (text::sameName, the catalogue gate's: blanks around them and
# letter case, Cyrillic included, do not count). A hand-made "==" or a
# comparison with letter case lets a rule, a file line or a structure edit
# miss the table "(2000а)" that every look-up finds as "(2000А)".
# Run: cmake -DROOT=<source folder> -P NameComparison.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
set(names "(formname|formName|FormName|tablen|Tablen|tableKey|tableNumber)")
# In SQL a name is compared as upper(trim(column))=upper(trim(?)), upper being the Cyrillic-aware function the
# connections register; a plain "tablen=?" compares with letter case.
set(sql "(where|and|or|\\() *(formname|tablen|tble) *= *\\?")
scan_lines(
  PATTERN "${sql}|sameNoCase\\(|${names} *[!=]=|[!=]= *[A-Za-z_.>-]*${names}([^A-Za-z0-9_]|$)|upper\\(.*\\) *[!=]=|[!=]= *text::upper\\("
  ALLOW_FILES
    # The comparisons themselves.
    engine/TextUtil.h
    engine/TextUtil.cpp
  ALLOW_LINES
    # Names of institutions and reports, configurations and indicator identifiers: no form names.
    "engine/SummaryMembers.cpp:if (text::sameNoCase(q.value(1).toString(), name)) return mark(name, id)"
    "app/Configuration.cpp:if (text::sameNoCase(m_configNames[i], attached)) return i"
    "app/Configuration.cpp:if (text::sameNoCase(n, name)) return   // the settings file compares names without case"
    "app/Configuration.cpp:if (text::sameNoCase(it.key(), name)) return it.value()"
    "reports/IndicatorEval.cpp:if (text::upper(line.left(eq).trimmed()) == text::upper(name)) {"
    # A cache of the last line's bytes: the same bytes give the same look-up, which compares as it should.
    "forms/shared/TransferFiles.cpp:if (m_last && r.form == m_lastForm && r.tablen == m_lastTablen) return *m_last"
    "forms/shared/TransferFiles.cpp:out.tablen = previous && fields[3] == previous->tablen ? previous->tablen : fields[3]"
  WHAT "comparison(s) of names past text::sameName"
  OK "names: one comparison")
