# settings/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_GUI_SOURCES
  settings/dataexport.cpp
  settings/dataexport.h
  settings/recordspage.cpp
  settings/recordspage.h
)
