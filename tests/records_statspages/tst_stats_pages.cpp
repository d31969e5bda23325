#include <QtTest>
class TestStatsPages : public QObject { Q_OBJECT };
QTEST_MAIN(TestStatsPages)
#include "tst_stats_pages.moc"
