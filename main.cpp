#include "frame/ui/startup.h"

int main(int argc, char** argv)
{
    return stationMain(argc, argv);
}
