#pragma once
// Statistics day files as the station writes them: the model counts 8
// cameras x 8 detections, four cycles an hour, for a number of days on the
// test clock (groups taking the hours in turn), and its worker stores and
// archives every day.
#include "frame/clock.h"
#include "records/resstatisticsparam.h"

#include <QStringList>

inline void writeStatisticsDays(TestClock* clock, int days, const QStringList& groups)
{
    ResStatisticsParam m;
    m.init(groups.first(), 8);
    for (int day = 0; day < days; ++day) {
        for (int h = 0; h < 24; ++h) {
            m.setParamGroup(groups[h % groups.size()]);
            for (int cycle = 0; cycle < 4; ++cycle)
                for (int d = 0; d < 8; ++d)
                    m.addRecord(d, 0, {true, true, (cycle + d) % 5 != 0, true, true, true, h % 7 != 0, true}, d == 7);
            clock->advance(3600 * 1000);
        }
        m.checkDate();
    }
    m.shutdown();
}
