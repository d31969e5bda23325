# settings/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  settings/parametercommit.cpp
  settings/parametercommit.h
)
list(APPEND STATION_GUI_SOURCES
  settings/dataexport.cpp
  settings/dataexport.h
  settings/hardwareconfigurationwidget.cpp
  settings/hardwareconfigurationwidget.h
  settings/helpwidget.cpp
  settings/helpwidget.h
  settings/recordspage.cpp
  settings/recordspage.h
  settings/widgetchangecamera.cpp
  settings/widgetchangecamera.h
  settings/wizardparawidget.cpp
  settings/wizardparawidget.h
  settings/wizardparawidget_camera.cpp
  settings/wizardparawidget_system.cpp
)
