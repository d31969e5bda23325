#include "records/ui/camereatabwidget.h"
#include "records/ui/camerastatisticswidget.h"

#include <algorithm>

CamereaTabWidget::CamereaTabWidget(int camera, QStringList names, QWidget* parent)
    : QTabWidget(parent)
    , m_camera(camera)
{
    const int count = std::min(names.size(), 9);
    for (int k = 1; k <= count; ++k) {
        m_panels[k - 1] = new CameraStatisticsWidget(camera, (k + 7) % 9, this);
        addTab(m_panels[k - 1], names[k - 1]);
    }
}

void CamereaTabWidget::updateData()
{
    if (auto* p = panel(currentIndex()))
        p->updateData();
}
