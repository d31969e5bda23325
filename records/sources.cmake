# records/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  records/countgroup.cpp
  records/countgroup.h
  records/resstatisticsdatabase.cpp
  records/resstatisticsdatabase.h
  records/resstatisticsparam.cpp
  records/resstatisticsparam.h
  records/resstatisticsquery.cpp
  records/statisticsconnection.cpp
  records/statisticsconnection.h
  records/statisticstime.cpp
  records/statisticstime.h
)
