# Fails when a window keeps a widget or a command slot under a numbered name
# (Label2, N5, Button1Click) in its header, or when the program, its tests or
# its benchmarks reach a numbered member (->N5, .Memo1) of any window: windows
# keep their widgets in a private struct under names of what they show or do,
# and other code talks to them through intent-named methods and accessors.
# Run: cmake -DROOT=<source folder> -P WindowMembers.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

# The numbered names the form designer gives: a widget kind, a number, and for
# a handler what it handles ("N5Click", "ListView1KeyF7", "LAdm4_1").
set(kind "N|Label|Edit|MaskEdit|Button|BitBtn|SpeedButton|ComboBox|CheckBox|CheckListBox|ListBox|FileListBox|DirectoryListBox|ListView|TreeView|Memo|RichEdit|Panel|GroupBox|RadioGroup|RadioButton|StringGrid|Gauge|ProgressBar|MainMenu|PopupMenu|Splitter|Timer|Image|Bevel|TabSheet|PageControl|abcMouseLabel|abcBackground|Lrek|LAdm|Ladm|LLev|Word|Excel")
set(numbered "(${kind})[0-9]+(_[0-9]+)?[A-Za-z0-9]*")
# A member or slot declared under such a name: "QLabel *Label1 = nullptr;",
# ", *N12 = nullptr", "void N5Click();".
set(declared "\\*[ ]*${numbered}[ ]*(=|;|,)|(^|[^0-9A-Za-z_])${numbered}[ ]*\\(")
set(reached "(->|\\.)${numbered}([^0-9A-Za-z_]|$)")
set(offenders)

# Window headers.
foreach(folder platform engine core widgets forms controls reports updates app)
  file(GLOB_RECURSE headers RELATIVE ${ROOT} ${ROOT}/${folder}/*.h)
  foreach(f IN LISTS headers)
    file(STRINGS ${ROOT}/${f} window ENCODING UTF-8 REGEX "Q_OBJECT")
    if(NOT window)
      continue()
    endif()
    file(STRINGS ${ROOT}/${f} lines ENCODING UTF-8 REGEX "${declared}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^[ ]*//" OR NOT line MATCHES "${declared}")
        continue()
      endif()
      string(REGEX REPLACE "[ ]*//.*$" "" line "${line}")
      string(STRIP "${line}" line)
      string(REPLACE ";" "" line "${line}")
      list(APPEND offenders "${f}: declares ${line}")
    endforeach()
  endforeach()
endforeach()

# Reaches, anywhere in the program, its tests and benchmarks.
foreach(folder platform engine core widgets forms controls reports updates app tests bench)
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(f IN LISTS files)
    if(f MATCHES "^tests/scans/")
      continue()
    endif()
    file(STRINGS ${ROOT}/${f} lines ENCODING UTF-8 REGEX "${reached}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^[ ]*//")
        continue()
      endif()
      # Texts are not code ("Main.Label2.Caption" in a message).
      string(REGEX REPLACE "\"([^\"\\\\]|\\\\.)*\"" "\"\"" code "${line}")
      string(REGEX MATCH "(->|\\.)${numbered}" member "${code}")
      if(member)
        string(REGEX REPLACE "^(->|\\.)" "" member "${member}")
        string(STRIP "${line}" line)
        string(REPLACE ";" "" line "${line}")
        list(APPEND offenders "${f}: reaches ${member}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offenders)
  list(LENGTH offenders count)
  string(REPLACE ";" "\n  " text "${offenders}")
  message(FATAL_ERROR "${count} numbered window member(s):\n  ${text}")
endif()
message(STATUS "windows: no numbered members, none reached")
