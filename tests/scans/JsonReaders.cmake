# Fails when a JSON text is read by hand: a file that speaks of JSON and
# looks for a double quote, character by character or as a lone text, scans
# it past QJsonDocument, which reads every document of the update service
# (the updates list, a manifest) whole, so that a key counts only where it
# stands, never inside another object or a string. The writers of JSON
# texts (the manifest, the rule upload, the escape of a text) put quotes in
# and are listed by file.
# Run: cmake -DROOT=<source folder> -P JsonReaders.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  MENTIONS "[Jj][Ss][Oo][Nn]"
  PATTERN "'\"'|\"\\\\\"\"|'\\\\\"'"
  SKIP "^ *//"
  ALLOW_FILES
    platform/Http.cpp
    updates/UpdateGenerator.cpp
    controls/ControlUpload.cpp
  ALLOW_LINES
  # Form names joined for the updates window, quoted where they hold a comma.
  "updates/UpdateManager.cpp:if (n.contains(QLatin1Char(' ')) || n.contains(QLatin1Char(',')) || n.contains(QLatin1Char('\"')))"
  "updates/UpdateManager.cpp:n = QLatin1Char('\"') + n.replace(QLatin1Char('\"'), QStringLiteral(\"\\\"\\\"\")) + QLatin1Char('\"')"
  WHAT "JSON reader(s) past QJsonDocument"
  OK "JSON texts read through QJsonDocument only")
