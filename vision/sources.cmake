# vision/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
list(APPEND STATION_CORE_SOURCES
  vision/findshape.cpp
  vision/findshape.h
  vision/graymatch.cpp
  vision/graymatch.h
  vision/greyimage.cpp
  vision/greyimage.h
  vision/ncctemplate.cpp
  vision/ncctemplate.h
  vision/surf.cpp
  vision/surf.h
  vision/trainingbox.cpp
  vision/trainingbox.h
  vision/trainstatus.h
)
