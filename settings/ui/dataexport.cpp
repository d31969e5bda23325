#include "settings/ui/dataexport.h"
#include "frame/operatorprompt.h"
#include "widgets/exportdataselectdlg.h"

#include <QThread>

DataExport::DataExport(QWidget* dialogParent, QObject* parent)
    : QObject(parent)
    , m_dialogParent(dialogParent)
{
}

DataExport::~DataExport()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
        delete m_job;
    }
}

void DataExport::SlotExportData()
{
    if (m_thread) {
        tellOperator(654); // an export is already running
        return;
    }
    QStringList chosen;
    {
        ExportDataSelectDlg dlg(catalogue.getPathContext(), catalogue.allName, m_dialogParent);
        if (dlg.exec() != QDialog::Accepted)
            return;
        chosen = dlg.getResult();
    }
    const QStringList patterns = catalogue.getExportPathByContext(chosen);
    if (patterns.isEmpty())
        return;
    const QString mount = DataExportJob::findDrive();
    if (mount.isEmpty())
        return;

    emit sigExportDataStart();
    DataExportJob* job = m_job = new DataExportJob(patterns, mount);
    m_thread = QThread::create([this, job] {
        m_result = job->run([this](int done, int total) { emit sigExportProgress(done, total); });
    });
    connect(m_thread, &QThread::finished, this, [this] {
        delete m_job;
        m_job = nullptr;
        m_thread->deleteLater();
        m_thread = nullptr;
        emit sigExportDataFinish();
        tellOperator(DataExportJob::messageFor(m_result));
    });
    m_thread->start();
}
