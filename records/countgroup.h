#pragma once
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVector>

// The records of the production statistics: counts per hour slot of one
// statistical day, for one parameter group, camera and detection.

struct sCount
{
    int ng = 0;
    int ok = 0;
};

enum ShiftType { Morning = 0, Night = 1, Whole = 2 };

constexpr int kStatSlots = 24;  // hour slots of a statistical day
constexpr int kStatTotalIndex = 8; // query index of the all-camera / cycle record

struct CountDetect
{
    int detectID = -1;
    QList<int> OK;
    QList<int> NG;
    sCount morning;
    sCount night;
    sCount whole;
};

struct CountCamera
{
    int cameraID = -1;
    CountDetect total;
    QList<CountDetect> data;
};

struct CountGroup
{
    int morningStart = 8;
    int nightStart = 20;
    QString groupName;
    CountCamera total;
    QList<CountCamera> datas;
};

struct CountGroupList
{
    QString date;
    QVector<CountGroup> groups;
};

Q_DECLARE_METATYPE(CountGroup)

// Registers CountGroup under its own name for queued signals; safe to call
// more than once.
void registerStatisticsMetaTypes();
