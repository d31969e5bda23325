#include "statstestutil.h"
#include <QtTest>
class A:public QObject{Q_OBJECT};
QTEST_GUILESS_MAIN(A)
#include "tst_stats_query.moc"
