#include "frame/startup.h"
#include "frame/globals.h"

#include <QApplication>
#include <QFont>
#include <cstdio>

int stationMain(int argc, char** argv)
{
    QApplication app(argc, argv);
    QFont::insertSubstitution("wqy-microhei", "WenQuanYi Micro Hei");
    QFont::insertSubstitution("wenquanyi", "WenQuanYi Micro Hei");
    std::printf("station %s: start-up sequence not assembled yet\n", kSoftwareVersion);
    return 0;
}
