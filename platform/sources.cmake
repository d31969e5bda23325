# platform/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  platform/commandrunner.cpp
  platform/commandrunner.h
  platform/leddevice.cpp
  platform/leddevice.h
  platform/platformpath.cpp
  platform/platformpath.h
  platform/posix_qextserialport.cpp
  platform/posix_qextserialport.h
  platform/qextserialbase.cpp
  platform/qextserialbase.h
)
