# inspection/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  inspection/camerainfo.h
  inspection/camerainterface.h
  inspection/cameramanager.cpp
  inspection/cameramanager.h
  inspection/cameraviewstate.h
  inspection/cammerrecong.cpp
  inspection/cammerrecong.h
  inspection/cammersingleton.cpp
  inspection/cammersingleton.h
  inspection/circle.cpp
  inspection/circle.h
  inspection/clustomrect.cpp
  inspection/clustomrect.h
  inspection/imghomotrans.cpp
  inspection/imghomotrans.h
  inspection/parallelblur.cpp
  inspection/parallelpool.cpp
  inspection/parallelblur.h
  inspection/parallelpool.h
  inspection/pixelbuffer.h
  inspection/repolygon.cpp
  inspection/repolygon.h
  inspection/roipanellogic.cpp
  inspection/roicommit.cpp
  inspection/roicommit.h
  inspection/roipanellogic.h
  inspection/roitouchedit.cpp
  inspection/roitouchedit.h
  inspection/shapedraw.h
  inspection/templatestore.cpp
  inspection/templatestore.h
  inspection/viewimages.cpp
  inspection/viewimages.h
)
list(APPEND STATION_GUI_SOURCES
  inspection/ui/cammerwidget.cpp
  inspection/ui/cammerwidget.h
  inspection/ui/cammerwidget_camera.cpp
  inspection/ui/cammerwidget_paint.cpp
  inspection/ui/drawroiwidget.cpp
  inspection/ui/drawroiwidget.h
)
