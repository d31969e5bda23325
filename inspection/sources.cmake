# inspection/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  inspection/camerainfo.h
  inspection/camerainterface.h
  inspection/cameramanager.cpp
  inspection/cameramanager.h
  inspection/cammersingleton.cpp
  inspection/cameraviewstate.h
  inspection/cammersingleton.h
  inspection/pixelbuffer.h
  inspection/circle.cpp
  inspection/circle.h
  inspection/clustomrect.cpp
  inspection/clustomrect.h
  inspection/repolygon.cpp
  inspection/repolygon.h
  inspection/shapedraw.h
  inspection/cammerrecong.cpp
  inspection/cammerrecong.h
  inspection/imghomotrans.cpp
  inspection/imghomotrans.h
  inspection/viewimages.cpp
  inspection/viewimages.h
)
