# Fails when an archive entry is read anywhere but in the two readers that
# count what comes out against a limit (office packages, update archives):
# an entry read by the size the archive declares fills the memory.
# Run: cmake -DROOT=<source folder> -P ZipReaders.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  PATTERN "zip_f(open|read)"
  ALLOW_FILES "platform/office/Package.cpp" "updates/UpdateSupport.cpp"
  WHAT "archive entry read(s) past the counted readers"
  OK "archive entries: read by the counted readers only")
