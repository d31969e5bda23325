# netservices/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  netservices/httpapiserver.cpp
  netservices/httpapiserver.h
  netservices/httpsession.cpp
  netservices/httpsession.h
  netservices/httpshares.cpp
  netservices/httpshares.h
  netservices/modbusserver.cpp
  netservices/modbusserver.h
  netservices/netcards.cpp
  netservices/netcards.h
  netservices/param_roi.h
  netservices/viewwatch2zel.cpp
  netservices/viewwatch2zel.h
  netservices/zev_netmn.cpp
  netservices/zev_netmn.h
)
