# controller/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  controller/controlport.cpp
  controller/controlport.h
  controller/cyclehooks.cpp
  controller/cyclehooks.h
  controller/cycletimer.cpp
  controller/cycletimer.h
  controller/iothread.cpp
  controller/iothread.h
  controller/lcdonoff.cpp
  controller/lcdonoff.h
  controller/machinecycle.cpp
  controller/machinecycle.h
  controller/mainstate.cpp
  controller/mainstate.h
  controller/productioncounters.cpp
  controller/productioncounters.h
)
list(APPEND STATION_GUI_SOURCES
  controller/redowizard.cpp
  controller/redowizard.h
  controller/windowcyclehooks.cpp
  controller/windowcyclehooks.h
)
