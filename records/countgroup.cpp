#include "records/countgroup.h"

void registerStatisticsMetaTypes()
{
    qRegisterMetaType<CountGroup>("CountGroup");
}
