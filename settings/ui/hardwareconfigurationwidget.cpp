#include "settings/ui/hardwareconfigurationwidget.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "inspection/cameramanager.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"

#include <QLabel>

HardwareConfigurationWidget::HardwareConfigurationWidget(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, 0, gShowW, gShowH);
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("background: #1e2837;"));
    m_text = new QLabel(this);
    m_text->setGeometry(40, 40, gShowW - 80, gShowH - 160);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setFont(boxpaint::houseFont(24));
    m_text->setStyleSheet(QStringLiteral("color: white;"));
    m_close = new ColorButton(messageText(121), this, 3);
    m_close->setGeometry(gShowW - 260, gShowH - 100, 240, 80);
    connect(m_close, &QPushButton::clicked, this, &QWidget::hide);
    hide();
}

HardwareConfigurationWidget::~HardwareConfigurationWidget() = default;

QString HardwareConfigurationWidget::description() const
{
    QStringList lines;
    if (gpWPara) {
        lines << QStringLiteral("CPU: %1 %2").arg(gpWPara->cpuVendor, gpWPara->cpuModelName);
        lines << QStringLiteral("LCD: %1").arg(gpWPara->isSupportLCD() ? "/dev/led" : "backlight");
        lines << QStringLiteral("I/O: /dev/ttyS%1").arg(gpWPara->comPort);
    }
    if (const CameraManager* cm = CameraManager::_instance)
        for (int i = 0; i < cm->cameras.size(); ++i)
            lines << QStringLiteral("%1 %2: %3 %4")
                         .arg(messageText(794))
                         .arg(i + 1)
                         .arg(cm->cameras[i].typeName, cm->cameras[i].serial());
    lines << QStringLiteral("ID: %1").arg(gDeviceID);
    return lines.join('\n');
}

void HardwareConfigurationWidget::showEvent(QShowEvent* e)
{
    m_text->setText(description());
    QWidget::showEvent(e);
}
