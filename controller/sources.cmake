# controller/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  controller/controlport.cpp
  controller/controlport.h
  controller/iothread.cpp
  controller/iothread.h
  controller/lcdonoff.cpp
  controller/lcdonoff.h
  controller/mainstate.cpp
  controller/mainstate.h
  controller/stationexit.cpp
  controller/stationexit.h
)
list(APPEND STATION_GUI_SOURCES
  controller/indexbutton.cpp
  controller/indexbutton.h
  controller/iostatuswidget.cpp
  controller/iostatuswidget.h
  controller/mapplication.cpp
  controller/mapplication.h
  controller/redowizard.cpp
  controller/redowizard.h
)
