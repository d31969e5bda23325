# records/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  records/copy2movedisk.cpp
  records/copy2movedisk.h
  records/diskmanager.cpp
  records/diskmanager.h
  records/savefialimagethread.cpp
  records/savefialimagethread.h
  records/upaninfo.h
)
list(APPEND STATION_GUI_SOURCES
  records/saveimagesettingdailog.cpp
  records/saveimagesettingdailog.h
)
