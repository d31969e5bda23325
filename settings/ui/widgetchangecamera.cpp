#include "settings/ui/widgetchangecamera.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "inspection/cameramanager.h"
#include "widgets/boxpaint.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"

#include <QPainter>

WidgetChangeCamera::WidgetChangeCamera(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, 0, gShowW, gShowH);
    okButton = new ColorButton(messageText(121), this, 3);
    cancelButton = new ColorButton(messageText(124), this, 4);
    okButton->setGeometry(gShowW - 500, gShowH - 100, 220, 80);
    cancelButton->setGeometry(gShowW - 260, gShowH - 100, 220, 80);
    connect(okButton, &QPushButton::clicked, this, [this] {
        if (accept())
            hide();
    });
    connect(cancelButton, &QPushButton::clicked, this, &QWidget::hide);
    hide();
}

WidgetChangeCamera::~WidgetChangeCamera() = default;

void WidgetChangeCamera::reload()
{
    qDeleteAll(choosers);
    choosers.clear();
    const CameraManager* cm = CameraManager::getInstance();
    const int n = cm->cameras.size();
    for (int i = 0; i < n && i < 8; ++i) {
        auto* c = new ComboBox(this);
        c->setGeometry(420, 120 + i * 75, 160, 60);
        c->setItemHeight(60);
        for (int k = 0; k < n && k < 8; ++k)
            c->addItem(QString::number(k + 1), k);
        c->setCurrentIndex(i);
        c->show();
        choosers << c;
    }
    update();
}

QVector<int> WidgetChangeCamera::chosenOrder() const
{
    QVector<int> order;
    QVector<bool> taken(choosers.size(), false);
    for (const ComboBox* c : choosers) {
        const int k = c->currentIndex();
        if (k < 0 || k >= taken.size() || taken[k])
            return {};
        taken[k] = true;
        order << k;
    }
    return order;
}

bool WidgetChangeCamera::accept()
{
    const QVector<int> order = chosenOrder();
    if (order.isEmpty() && !choosers.isEmpty()) {
        tellOperator(793);
        return false;
    }
    CameraManager::getInstance()->resortCameraSN(order);
    return true;
}

void WidgetChangeCamera::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(30, 40, 55));
    p.setPen(Qt::white);
    p.setFont(boxpaint::houseFont(26));
    const CameraManager* cm = CameraManager::_instance;
    for (int i = 0; cm && i < choosers.size() && i < cm->cameras.size(); ++i)
        p.drawText(QRect(40, 120 + i * 75, 370, 60), Qt::AlignVCenter,
                   QStringLiteral("%1  %2").arg(i + 1).arg(cm->cameras[i].serial()));
}
