#pragma once
#include "controller/dataexportjob.h"
#include "controller/exportcatalogue.h"

#include <QObject>

class QThread;
class QWidget;

// The settings window's data export: the operator ticks categories, a drive
// is found (asking again while there is none) and a background job copies
// the categories to it between sigExportDataStart and sigExportDataFinish.
class DataExport : public QObject
{
    Q_OBJECT
public:
    explicit DataExport(QWidget* dialogParent, QObject* parent = nullptr);
    ~DataExport() override;

    ExportCatalogue catalogue;
    bool busy() const { return m_thread != nullptr; }
    // How the last job ended (valid after sigExportDataFinish).
    DataExportJob::Result lastResult() const { return m_result; }

signals:
    void sigExportDataStart();
    void sigExportDataFinish();
    void sigExportProgress(int done, int total);

public slots:
    void SlotExportData();

private:
    QWidget* m_dialogParent;
    QThread* m_thread = nullptr;
    DataExportJob* m_job = nullptr;
    DataExportJob::Result m_result = DataExportJob::Done;
};
