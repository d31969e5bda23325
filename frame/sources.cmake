# frame/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  frame/clock.cpp
  frame/clock.h
  frame/databasefile.cpp
  frame/databasefile.h
  frame/dbconfighelpers.cpp
  frame/dbconfighelpers.h
  frame/deviceid.cpp
  frame/deviceid.h
  frame/factorydefaults.cpp
  frame/factorydefaults.h
  frame/findau.cpp
  frame/findau.h
  frame/geometrytools.cpp
  frame/geometrytools.h
  frame/globals.cpp
  frame/globals.h
  frame/imagetools.cpp
  frame/imagetools.h
  frame/ionames.cpp
  frame/ionames.h
  frame/logmanager.cpp
  frame/logmanager.h
  frame/messages.qrc
  frame/parameterstartup.cpp
  frame/parameterstartup.h
  frame/messagetable.cpp
  frame/messagetable.h
  frame/nettools.cpp
  frame/nettools.h
  frame/operatorprompt.cpp
  frame/operatorprompt.h
  frame/signalwatch.cpp
  frame/signalwatch.h
  frame/texttools.cpp
  frame/texttools.h
  frame/timetools.cpp
  frame/timetools.h
  frame/wizardpara.cpp
  frame/wizardpara.h
)
list(APPEND STATION_GUI_SOURCES
  frame/startup.cpp
  frame/startup.h
)
