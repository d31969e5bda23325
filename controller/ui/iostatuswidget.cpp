#include "controller/ui/iostatuswidget.h"
#include "controller/controlport.h"
#include "controller/machinecycle.h"
#include "controller/mainstate.h"
#include "frame/clock.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "frame/wizardpara.h"
#include "widgets/boxpaint.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>

namespace {
std::function<QString()> g_drivePath;

constexpr int kLampW = 70;
constexpr int kLampH = 80;
constexpr int kStep = 75;
// The layout was drawn for a 1920-pixel panel; narrower screens put the
// texts where the lamps leave room and keep them clear of the side bar.
constexpr int kWideScreen = 1920;
constexpr int kSideBar = 240;

using boxpaint::houseFont;

int detectionsInForce(const WizardPara& p)
{
    return p.systemMode == 3 ? p.multiDetectNum : 4;
}

// The last cycle time in 0.1 s, as the cycle measured it.
qint64 lastCycleTenths()
{
    return gpWin && gpWin->cycle ? gpWin->cycle->cycleTime() : 0;
}

bool outputGroupsOn(const WizardPara& p) { return p.ejectorPulseProdNG != 0; }
bool productAlarmOutOn(const WizardPara& p) { return p.prodInspectOption != 0; }

} // namespace

QString IOStatusWidget::cycleSecondsText(qint64 tenths)
{
    return QString::number(tenths / 10.0, 'f', 1).rightJustified(4, QLatin1Char(' '));
}

int IOStatusWidget::drawFitted(QPainter& p, int x, int y, const QString& text, int px, int maxW)
{
    // The size that fits is kept with the text: finding it measures, and
    // measuring shapes the text again.
    int size = -1;
    for (auto it = m_fits.begin(); it != m_fits.end() && size < 0; ++it)
        if (it->text == text && it->px == px && it->maxW == maxW)
            size = it->size;
    if (size < 0) {
        size = boxpaint::fittedPixelSize(houseFont(px), text, maxW, px);
        if (m_fits.size() >= 8)
            m_fits.erase(m_fits.begin());
        m_fits.push_back({text, px, maxW, size});
    }
    p.setFont(houseFont(size));
    m_text.draw(p, x, y, text);
    return x + m_text.advance(p, text);
}

QString IOStatusWidget::timeText()
{
    // The local time of a repaint costs a look at the zone's rules each
    // time; the strip is repainted with every frame of the views under it.
    const qint64 second = Clock::instance()->epochMs() / 1000;
    if (second != m_shownSecond || m_timeText.isEmpty()) {
        m_timeText = clockNow().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss"));
        m_shownSecond = second;
    }
    return m_timeText;
}

void IOStatusWidget::setDrivePathSource(std::function<QString()> f) { g_drivePath = std::move(f); }

IOStatusWidget::IOStatusWidget(QWidget* parent)
    : QWidget(parent)
{
    setGeometry(0, gShowH - kHeight, gShowW, kHeight);
}

IOStatusWidget::~IOStatusWidget() = default;

QVector<IOStatusWidget::Lamp> IOStatusWidget::lamps()
{
    QVector<Lamp> out;
    if (!gpWPara)
        return out;
    const WizardPara& p = *gpWPara;
    const int h = kHeight;
    const bool mode3 = p.systemMode == 3;
    const int dets = detectionsInForce(p);

    // Inputs shown.
    bool shown[10] = {};
    if (mode3) {
        shown[1] = true;
        for (int d = 0; d < 8; ++d)
            if (p.trigInput[d] >= 0 && p.trigInput[d] <= 9)
                shown[p.trigInput[d]] = true;
        const int v = p.multiTrigIn[0];
        if (v >= 0 && v < 8)
            shown[TriginNo[v] - 1] = true;
    } else {
        shown[0] = shown[1] = shown[2] = shown[3] = true;
    }
    const int inTop = mode3 ? h - 170 : h - 85;
    const int inLabelTop = mode3 ? h - 110 : h - 23;
    int x = 0;
    int lastInX = 82;
    for (int n = 0; n < 9; ++n) {
        if (!shown[n])
            continue;
        if (mode3 && n >= 4 && dets < n)
            continue;
        x = n == 0 ? 7 : n == 1 ? 82 : x + kStep;
        lastInX = x;
        out.append({false, n, QRect(x, inTop, kLampW, kLampH), QRect(x, inLabelTop, kLampW, 18),
                    n < kIONameCount ? gaName[n] : QString()});
    }

    // Outputs.
    // Mode 3 always takes two rows: on one row up to nineteen lamps would
    // run off any panel narrower than the one the layout was drawn for.
    const bool secondRow = mode3;
    const int x0 = secondRow ? 7 : lastInX + 90;
    const int outTop = secondRow ? h - 85 : inTop;
    int count = 4;
    if (mode3) {
        for (int k = 4; k <= 8; ++k)
            if (dets > k - 1)
                count = k + 1;
    } else if (outputGroupsOn(p)) {
        count = 8;
    } else if (productAlarmOutOn(p)) {
        count = 5;
    }
    for (int k = 0; k < count; ++k) {
        const int lx = x0 + kStep * k;
        Lamp l{true, k, QRect(lx, outTop, kLampW, kLampH), QRect(), QString()};
        if (mode3) {
            // Under their lamps on the one-row layout, on the strip's bottom
            // line on the two-row one.
            l.label = secondRow ? QRect(7 + kStep * k, h - 26, kLampW, 18) : QRect(lx, inLabelTop, kLampW, 18);
            l.text = gaName[9 + k];
        } else {
            l.label = QRect(lx, h - 23, kLampW, 18);
            if (k < 4)
                l.text = gaName[4 + k];
            else if (k == 4)
                l.text = productAlarmOutOn(p) ? QStringLiteral(" O 5 ") : QStringLiteral(" N 1 ");
            else
                l.text = QStringLiteral(" N %1 ").arg(k - 3);
        }
        out.append(l);
    }
    return out;
}

void IOStatusWidget::mousePressEvent(QMouseEvent*)
{
    if (gpWin)
        gpWin->loginLevel = 0;
    update();
}

void IOStatusWidget::paintEvent(QPaintEvent*)
{
    if (!gpWPara)
        return;
    const WizardPara& para = *gpWPara;
    QPainter p(this);
    const QVector<Lamp> all = lamps();
    int lastLabelX = 0;
    int lampsRight = 0;
    for (const Lamp& l : all) {
        const int on = gpControlIO ? gpControlIO->IOState(l.output ? 1 : 0, l.n) : 0;
        if (gpPixmapOUT[on] && !gpPixmapOUT[on]->isNull())
            p.drawPixmap(l.lamp, *gpPixmapOUT[on]);
        lampsRight = qMax(lampsRight, qMax(l.lamp.right(), l.label.right()));
        if (l.output)
            lastLabelX = l.label.x();
    }
    p.setFont(houseFont(16));
    p.setPen(QColor(0, 255, 255));
    for (const Lamp& l : all)
        m_text.draw(p, l.label, Qt::AlignCenter, l.text);

    const QString login = para.isPswUsed ? messageText(gpWin && gpWin->loginLevel ? 308 : 156) : QString();
    const QColor loginColour = gpWin && gpWin->loginLevel ? Qt::green : Qt::red;
    const QString group = para.getCurGroupName();
    const QString groupText =
        (!group.isEmpty() && group != QLatin1String("default")) ? messageText(557) + group : QString();
    const QString clockText = messageText(110).arg(timeText(),
                                                   cycleSecondsText(lastCycleTenths()));
    const QString drive = g_drivePath ? g_drivePath() : QString();
    // Painted every second: the icon is read only while a drive is in use.
    const QPixmap disk = drive.isEmpty() ? QPixmap() : QPixmap(QStringLiteral("./images/disk.png"));

    if (gShowW >= kWideScreen) {
        int base = lastLabelX;
        if (para.isPswUsed) {
            p.setFont(houseFont(35));
            p.setPen(loginColour);
            const int outLabelTop = all.isEmpty() ? kHeight - 23 : all.last().label.top();
            m_text.draw(p, lastLabelX + 150, outLabelTop, login);
            base = lastLabelX + 150 + 20 * gLan;
        }
        if (!groupText.isEmpty()) {
            p.setFont(houseFont(35));
            p.setPen(QColor("#ff9900"));
            m_text.draw(p, base + 150, 155, groupText);
        }
        if (!drive.isEmpty())
            p.drawPixmap(QRect(1080, 120, 50, 50), disk);
        p.setFont(houseFont(35));
        p.setPen(Qt::green);
        m_text.draw(p, 1150, 155, clockText);
        return;
    }

    // Narrower screens: the texts take the band the lamps leave free and
    // end before the side bar.
    const int right = gShowW - kSideBar - 10;
    const bool twoRows = para.systemMode == 3;
    int x = twoRows ? lampsRight + 20 : 7;
    const int maxW = right - x;
    int y1 = twoRows ? 40 : 38;
    if (para.isPswUsed) {
        p.setPen(loginColour);
        x = drawFitted(p, x, y1, login, 30, maxW) + 20;
    }
    if (!groupText.isEmpty()) {
        p.setPen(QColor("#ff9900"));
        drawFitted(p, x, y1, groupText, 30, qMax(40, right - x));
    }
    const int lineX = twoRows ? lampsRight + 20 : 7;
    const int y2 = twoRows ? 90 : 80;
    p.setPen(Qt::green);
    int clockW = right - lineX;
    if (!drive.isEmpty())
        clockW -= 60;
    int end;
    p.setFont(houseFont(20));
    if (m_text.advance(p, clockText) <= clockW) {
        end = drawFitted(p, lineX, y2, clockText, 30, clockW);
    } else {
        // Too narrow for one readable line: time above, cycle below.
        const QString time = timeText();
        const QString cycle = messageText(110).arg(QString(), cycleSecondsText(lastCycleTenths()))
                                  .trimmed();
        end = drawFitted(p, lineX, y2 - 12, time, 24, clockW);
        end = qMax(end, drawFitted(p, lineX, y2 + 18, cycle, 24, clockW));
    }
    if (!drive.isEmpty())
        p.drawPixmap(QRect(end + 10, y2 - 40, 50, 50), disk);
}
