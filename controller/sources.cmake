# controller/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  controller/controlport.cpp
  controller/controlport.h
  controller/cyclehooks.cpp
  controller/cyclehooks.h
  controller/cycletimer.cpp
  controller/cycletimer.h
  controller/dataexportjob.cpp
  controller/dataexportjob.h
  controller/exportcatalogue.cpp
  controller/exportcatalogue.h
  controller/iothread.cpp
  controller/iothread.h
  controller/lcdonoff.cpp
  controller/lcdonoff.h
  controller/machinecycle.cpp
  controller/machinecycle.h
  controller/mainstate.cpp
  controller/mainstate.h
  controller/operationrecords.cpp
  controller/operationrecords.h
  controller/productioncounters.cpp
  controller/productioncounters.h
  controller/stationexit.cpp
  controller/stationexit.h
)
list(APPEND STATION_GUI_SOURCES
  controller/customionamewidget.cpp
  controller/customionamewidget.h
  controller/indexbutton.cpp
  controller/indexbutton.h
  controller/iocheckcombo.cpp
  controller/iocheckcombo.h
  controller/iostatuswidget.cpp
  controller/iostatuswidget.h
  controller/iowidget.cpp
  controller/iowidget.h
  controller/mapplication.cpp
  controller/mapplication.h
  controller/redowizard.cpp
  controller/redowizard.h
  controller/windowcyclehooks.cpp
  controller/windowcyclehooks.h
)
