# records/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  records/copy2movedisk.cpp
  records/copy2movedisk.h
  records/countgroup.cpp
  records/countgroup.h
  records/diskmanager.cpp
  records/diskmanager.h
  records/resstatisticsdatabase.cpp
  records/resstatisticsdatabase.h
  records/resstatisticsparam.cpp
  records/resstatisticsparam.h
  records/resstatisticsquery.cpp
  records/savefialimagethread.cpp
  records/savefialimagethread.h
  records/statisticsconnection.cpp
  records/statisticsconnection.h
  records/statisticstime.cpp
  records/statisticstime.h
  records/upaninfo.h
)
list(APPEND STATION_GUI_SOURCES
  records/ui/saveimagesettingdailog.cpp
  records/ui/saveimagesettingdailog.h
)
list(APPEND STATION_CORE_SOURCES
  records/exportresultworker.cpp
  records/exportresultworker.h
)
list(APPEND STATION_GUI_SOURCES
  records/ui/camerastatisticswidget.cpp
  records/ui/camerastatisticswidget.h
  records/ui/camereatabwidget.cpp
  records/ui/camereatabwidget.h
  records/ui/dateseletdialog.cpp
  records/ui/dateseletdialog.h
  records/ui/histogram.cpp
  records/ui/histogram.h
  records/ui/statisticswidget.cpp
  records/ui/statisticswidget.h
)
