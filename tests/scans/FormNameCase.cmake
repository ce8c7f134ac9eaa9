# Fails when the update service compares names without regard to letter case
# past the catalogue's one comparison (gate::sameName in engine/CatalogGate):
# a form of a manifest, a backup or a print file is the catalogue's form only
# as the catalogue tells it. Update ids and checksums, which name no form, are
# compared by Qt.
# Run: cmake -DROOT=<source folder> -P FormNameCase.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  FOLDERS updates
  PATTERN "CaseInsensitive|toUpper\\(|toLower\\(|sameNoCase"
  ALLOW_LINES
  "updates/UpdateLists.cpp:if (!installedIds->contains(u.id, Qt::CaseInsensitive))"
  "updates/UpdateManager.cpp:return GetInstalledUpdateIds(m).contains(id, Qt::CaseInsensitive)"
  "updates/UpdateManager.cpp:if (r.updateId.compare(id, Qt::CaseInsensitive) == 0) {"
  "updates/UpdateManager.cpp:addRow(e, installedIds.contains(e.id, Qt::CaseInsensitive) ? kInstalled : kAvailable)"
  "updates/UpdateManager.cpp:if (listed.contains(r.updateId, Qt::CaseInsensitive))"
  # checksums: hexadecimal digits
  "updates/UpdateSupport.cpp:return QString::fromLatin1(h.result().toHex()).toLower()"
  "updates/UpdateSupport.cpp:return FileSha256Hex(fileName).toLower() == expected.toLower()"
  WHAT "name comparison(s) past the catalogue's"
  OK "update service: names compared as the catalogue compares them")
