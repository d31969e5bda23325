# netservices/: which library each file belongs to. stationcore never links Qt Widgets;
# a file that needs a widget goes to stationgui.
