# Fails when a window keeps a widget or a command slot under a numbered name
# (Label2, N5, Button1Click) in its header, or when the program, its tests or
# its benchmarks reach a numbered member (->N5, .Memo1) of any window: windows
# keep their widgets in a private struct under names of what they show or do,
# and other code talks to them through intent-named methods and accessors.
# Fails too when a window class of a header (one that derives from a Qt class
# or declares Q_OBJECT) keeps any data member public, widget or state
# (constants aside); keeps FormCreate, FormActivate or FormShow public (a
# window runs its creation and activation work itself, from its constructor
# or its first showing, so that an opener that forgets a call cannot show it
# empty; one may stay public only when listed below with its reason); or
# names a command after a widget's click (ButtonImportClick).
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

# Creation and activation steps that stay public: "<header>:<class>::<step>"
# followed by the reason.
set(publicSteps)

# Public members of the window classes of the headers, read class by class.
# Texts, characters and comments are dropped first; ";", "[" and "]" are put
# aside so that a line stays one list item.
set(sc "@sc@")
set(exposed)
foreach(folder platform engine core widgets forms controls reports updates app)
  file(GLOB_RECURSE headers RELATIVE ${ROOT} ${ROOT}/${folder}/*.h)
  foreach(f IN LISTS headers)
    file(READ ${ROOT}/${f} text)
    if(NOT text MATCHES "(class|struct)[ ]")
      continue()
    endif()
    string(REPLACE ";" "${sc}" text "${text}")
    string(REPLACE "[" "@lb@" text "${text}")
    string(REPLACE "]" "@rb@" text "${text}")
    string(REGEX REPLACE "'([^'\\\\\n]|\\\\.)'" "''" text "${text}")
    string(REGEX REPLACE "\"([^\"\\\\\n]|\\\\.)*\"" "\"\"" text "${text}")
    string(REGEX REPLACE "//[^\n]*" "" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    set(depth 0)            # braces open before the line
    set(paren 0)            # parentheses open before the line
    set(fresh TRUE)         # the line starts a declaration
    set(head "")            # a class head whose "{" is still to come
    set(names)              # the classes the line is in, innermost last,
    set(depths)             # with the depth of their bodies,
    set(access)             # the access in force and
    set(ids)                # a number for each class of the file
    set(windows)            # numbers of the window classes
    set(found)              # "<number>|<what>"
    set(next 0)
    foreach(line IN LISTS lines)
      string(STRIP "${line}" code)
      if(code STREQUAL "" OR code MATCHES "^#")
        continue()
      endif()
      string(REGEX MATCHALL "{" o "${code}")
      string(REGEX MATCHALL "}" c "${code}")
      string(REGEX MATCHALL "\\(" po "${code}")
      string(REGEX MATCHALL "\\)" pc "${code}")
      list(LENGTH o opens)
      list(LENGTH c closes)
      list(LENGTH po parensOpened)
      list(LENGTH pc parensClosed)
      # Template arguments out of the way: "std::function<void(int)> f" is
      # a member, not a function.
      set(bare "${code}")
      set(before "")
      while(NOT bare STREQUAL before)
        set(before "${bare}")
        string(REGEX REPLACE "<[^<>]*>" "" bare "${bare}")
      endwhile()

      list(LENGTH names inClass)
      set(top -1)
      if(inClass GREATER 0)
        list(GET depths -1 topDepth)
        list(GET access -1 topAccess)
        list(GET ids -1 top)
        list(GET names -1 topName)
      endif()
      if(inClass GREATER 0 AND head STREQUAL "" AND paren EQUAL 0 AND fresh AND depth EQUAL topDepth)
        if(code MATCHES "^(public|protected|private)([ ]+(slots|Q_SLOTS))?[ ]*:")
          list(POP_BACK access)
          list(APPEND access ${CMAKE_MATCH_1})
        elseif(code MATCHES "^(signals|Q_SIGNALS)[ ]*:")
          list(POP_BACK access)
          list(APPEND access signals)
        elseif(code MATCHES "^Q_OBJECT")
          list(APPEND windows ${top})
        else()
          if(code MATCHES "(^|[ *&])([A-Z][A-Za-z0-9_]*Click)[ ]*\\(")
            list(APPEND found "${top}|${topName}::${CMAKE_MATCH_2} is named after a click")
          endif()
          if(topAccess STREQUAL "public")
            if(code MATCHES "(^|[^A-Za-z0-9_])(FormCreate|FormActivate|FormShow)[ ]*\\(")
              list(FIND publicSteps "${f}:${topName}::${CMAKE_MATCH_2}" allowed)
              if(allowed EQUAL -1)
                list(APPEND found "${top}|${topName}::${CMAKE_MATCH_2} is public")
              endif()
            elseif(NOT bare MATCHES "^(using|friend|typedef|enum|class|struct|union|template|static[ ]+constexpr|constexpr|static[ ]+const[ ]|Q_[A-Z_]+|explicit|virtual|inline|~|})"
                   AND NOT bare MATCHES "operator")
              # The declaration up to its initialiser; a function has its
              # "(" there.
              string(REGEX REPLACE "(=|{|${sc}).*$" "" declared "${bare}")
              if(NOT declared MATCHES "\\(" AND declared MATCHES "[A-Za-z_][A-Za-z0-9_:]*[ *&]+[A-Za-z_]")
                string(REGEX REPLACE "${sc}.*$" "" shown "${code}")
                list(APPEND found "${top}|${topName} keeps public ${shown}")
              endif()
            endif()
          endif()
        endif()
      endif()

      # A class head starts, or goes on over the line.
      if(head STREQUAL "" AND bare MATCHES "^(class|struct)[ ]+([A-Za-z_][A-Za-z0-9_]*)" AND NOT bare MATCHES "${sc}[ ]*$")
        set(head "${bare}")
      elseif(NOT head STREQUAL "")
        string(APPEND head " ${bare}")
      endif()
      if(NOT head STREQUAL "" AND head MATCHES "${sc}" AND NOT head MATCHES "{")
        set(head "")   # declared only
      endif()
      set(closedTo ${depth})
      if(NOT head STREQUAL "" AND opens GREATER 0)
        string(REGEX MATCH "^(class|struct)[ ]+([A-Za-z_][A-Za-z0-9_]*)" named "${head}")
        set(kind ${CMAKE_MATCH_1})
        set(name ${CMAKE_MATCH_2})
        math(EXPR bodyDepth "${depth} + 1")
        list(APPEND names ${name})
        list(APPEND depths ${bodyDepth})
        list(APPEND ids ${next})
        if(kind STREQUAL "struct")
          list(APPEND access public)
        else()
          list(APPEND access private)
        endif()
        # Derived from a Qt class: a window or one of its widgets.
        string(REGEX REPLACE "{.*$" "" bases "${head}")
        if(bases MATCHES "[^:]:[^:](.*)$" AND CMAKE_MATCH_1 MATCHES "(^|[ ,])Q[A-Z][A-Za-z]*([ ,]|$)")
          list(APPEND windows ${next})
        endif()
        math(EXPR next "${next} + 1")
        set(head "")
      endif()
      math(EXPR depth "${depth} + ${opens} - ${closes}")
      math(EXPR paren "${paren} + ${parensOpened} - ${parensClosed}")
      set(popped FALSE)
      while(TRUE)
        list(LENGTH depths n)
        if(n EQUAL 0)
          break()
        endif()
        list(GET depths -1 d)
        if(d LESS_EQUAL depth)
          break()
        endif()
        list(POP_BACK names)
        list(POP_BACK depths)
        list(POP_BACK access)
        list(POP_BACK ids)
        set(popped TRUE)
      endwhile()
      # "} name;" ends a nested struct and declares a member of the class
      # around it.
      list(LENGTH names inClass)
      if(inClass GREATER 0 AND closes GREATER 0 AND bare MATCHES "}[ ]*([A-Za-z_][A-Za-z0-9_]*)[ ]*(${sc}|,|=|$)")
        set(member ${CMAKE_MATCH_1})
        list(GET depths -1 d)
        list(GET access -1 a)
        list(GET ids -1 i)
        list(GET names -1 n2)
        if(d EQUAL depth AND a STREQUAL "public")
          list(APPEND found "${i}|${n2} keeps public ${member}")
        endif()
      endif()
      if(code MATCHES "(${sc}|{|}|:)$" OR code MATCHES "^Q_[A-Z_]+(\\(.*\\))?$")
        set(fresh TRUE)
      else()
        set(fresh FALSE)
      endif()
    endforeach()
    foreach(item IN LISTS found)
      string(REGEX MATCH "^([0-9]+)\\|(.*)$" parts "${item}")
      list(FIND windows ${CMAKE_MATCH_1} isWindow)
      if(NOT isWindow EQUAL -1)
        set(what "${CMAKE_MATCH_2}")
        string(REPLACE "@lb@" "[" what "${what}")
        string(REPLACE "@rb@" "]" what "${what}")
        list(APPEND exposed "${f}: ${what}")
      endif()
    endforeach()
  endforeach()
endforeach()

set(report "")
if(offenders)
  list(LENGTH offenders count)
  string(REPLACE ";" "\n  " text "${offenders}")
  string(APPEND report "${count} numbered window member(s):\n  ${text}\n")
endif()
if(exposed)
  list(LENGTH exposed count)
  string(REPLACE ";" "\n  " text "${exposed}")
  string(APPEND report "${count} window member(s) public or named after a click:\n  ${text}\n")
endif()
if(report)
  message(FATAL_ERROR "${report}")
endif()
message(STATUS "windows: no numbered members, none reached; no public state, creation step or click-named command")
