# settings/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  settings/parametercommit.cpp
  settings/parametercommit.h
  settings/softwarepackage.cpp
  settings/softwarepackage.h
)
list(APPEND STATION_GUI_SOURCES
  settings/ui/dataexport.cpp
  settings/ui/dataexport.h
  settings/ui/hardwareconfigurationwidget.cpp
  settings/ui/hardwareconfigurationwidget.h
  settings/ui/helpwidget.cpp
  settings/ui/helpwidget.h
  settings/ui/recordspage.cpp
  settings/ui/recordspage.h
  settings/ui/widgetchangecamera.cpp
  settings/ui/widgetchangecamera.h
  settings/ui/wizardparawidget.cpp
  settings/ui/wizardparawidget.h
  settings/ui/wizardparawidget_camera.cpp
  settings/ui/wizardparawidget_system.cpp
)
