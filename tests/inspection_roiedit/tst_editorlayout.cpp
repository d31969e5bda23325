// The region editor at the panel's two smaller screen sizes, in English and
// Simplified Chinese: every caption and value on its screen lies whole on
// the screen, inside its own control, under nothing else, and clear of the
// texts written over the picture. Widths come from the real font.
#include "controller/ui/indexbutton.h"
#include "controller/ui/redowizard.h"
#include "frame/globals.h"
#include "inspection/ui/cammerwidget.h"
#include "inspection/ui/drawroiwidget.h"
#include "settings/settingsrig.h"
#include "testsupport/finger.h"
#include "testsupport/fingerdrag.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/slider.h"
#include "widgets_boxes/widgettest.h"

#include <QLabel>
#include <QScreen>
#include <QtTest>

namespace {

const QString kFamily = QStringLiteral("WenQuanYi Micro Hei");
// The least text size read at a glance from the machine.
constexpr int kLeastPx = 14;

QFontMetrics metrics(int px)
{
    QFont f(kFamily);
    f.setPixelSize(px);
    return QFontMetrics(f);
}

// Where a text of `px` pixels lies in `in`: centred (one box for all its
// lines), or at the left edge and centred upright.
QRect placed(const QString& text, int px, const QRect& in, bool left = false)
{
    const QFontMetrics fm = metrics(px);
    int w = 0;
    const QStringList lines = text.split('\n');
    for (const QString& l : lines)
        w = std::max(w, fm.horizontalAdvance(l));
    QRect box(0, 0, w, fm.height() * lines.size());
    box.moveCenter(in.center());
    if (left)
        box.moveLeft(in.left());
    return box;
}

struct Caption {
    QString what;
    QRect box;      // global
    QWidget* owner; // null for a text written over the picture
};

// Every caption and value of the editor's screen as it shows now; those
// too small or not inside their control go to `faults`.
QList<Caption> captions(ReDoWizard& w, CammerWidget* v, QStringList& faults)
{
    QList<Caption> out;
    const auto add = [&](QWidget* owner, const QString& text, int px, const QRect& room, bool left = false) {
        const QRect box = placed(text, px, room, left);
        const QString what = QString("\"%1\" of %2").arg(text, finger::describe(owner));
        out << Caption{what, QRect(owner->mapToGlobal(box.topLeft()), box.size()), owner};
        if (!room.contains(box))
            faults << what + " runs out of its control";
        if (px < kLeastPx)
            faults << what + QString(" at %1 px").arg(px);
    };
    for (QWidget* root : {static_cast<QWidget*>(w.roiPanel), static_cast<QWidget*>(v)})
        for (QWidget* c : root->findChildren<QWidget*>()) {
            if (!c->isVisible())
                continue;
            c->ensurePolished();
            if (auto* s = qobject_cast<Slider*>(c)) {
                add(s, s->objectName(), s->captionPixelSize(), QRect(0, 0, 120, s->height()), true);
                add(s, QString::number(s->value()), 30, QRect(Slider::kBoxX, 0, 100, s->height()));
            } else if (auto* b = qobject_cast<QAbstractButton*>(c); b && !b->text().isEmpty()) {
                auto* cb = dynamic_cast<ColorButton*>(b);
                add(b, b->text(), cb ? cb->fontPixelSize() : b->font().pixelSize(), b->rect());
            } else if (auto* box = qobject_cast<QComboBox*>(c)) {
                // Room left of the arrow.
                add(box, box->currentText(), box->font().pixelSize(), box->rect().adjusted(4, 0, -20, 0), true);
            } else if (auto* l = qobject_cast<QLabel*>(c); l && !l->text().isEmpty()) {
                add(l, l->text(), l->font().pixelSize(), l->rect(), true);
            }
        }
    for (const CammerWidget::OverlayText& t : v->editorTexts()) {
        const QFontMetrics fm = metrics(t.px);
        const QRect box(v->mapToGlobal(QPoint(t.at.x(), t.at.y() - fm.ascent())),
                        QSize(fm.horizontalAdvance(t.text), fm.height()));
        out << Caption{QString("\"%1\" over the picture").arg(t.text), box, nullptr};
        if (t.px < kLeastPx)
            faults << QString("\"%1\" over the picture at %2 px").arg(t.text).arg(t.px);
    }
    return out;
}

// What is wrong with them: off the screen, under another control, or
// running into another text over the picture.
QStringList faults(ReDoWizard& w, CammerWidget* v)
{
    QStringList out;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QList<Caption> all = captions(w, v, out);
    for (const Caption& c : all) {
        if (!screen.contains(c.box))
            out << c.what + " off the screen";
        const QRect in = c.box.adjusted(1, 1, -1, -1);
        for (const QPoint& at : {in.topLeft(), in.topRight(), in.bottomLeft(), in.bottomRight(), in.center()}) {
            QWidget* on = QApplication::widgetAt(at);
            const bool own = c.owner ? (on == c.owner || c.owner->isAncestorOf(on)) : on == v;
            if (!own && screen.contains(at)) {
                out << QString("%1 under %2").arg(c.what, finger::describe(on));
                break;
            }
        }
        for (const Caption& o : all)
            if (!c.owner && !o.owner && &o != &c && o.box.intersects(c.box))
                out << QString("%1 on %2").arg(c.what, o.what);
    }
    return out;
}

} // namespace

class TstEditorLayout : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(widgettest::initToolkit(1));
        // The house family is the real font, not a stand-in.
        QCOMPARE(QFontInfo(QFont("wqy-microhei")).family(), kFamily);
    }
    void captionsReadable_data()
    {
        QTest::addColumn<int>("lan");
        QTest::newRow("en") << 1;
        QTest::newRow("zh") << 0;
    }
    void captionsReadable();
};

void TstEditorLayout::captionsReadable()
{
    QFETCH(int, lan);
    SettingsRig rig(lan);
    ReDoWizard& w = *rig.win;
    CammerWidget* v = w.views[0];
    // A sampled template: the editor writes its time under the status line.
    QVERIFY(QDir().mkpath("cammer12"));
    QImage t(320, 256, QImage::Format_Grayscale8);
    t.fill(90);
    QVERIFY(t.save("cammer12/template0.bmp"));
    if (!w.sideBar->isVisible())
        finger::tap(v);
    finger::tap(w.sideBar->regionSettings);
    QVERIFY(w.roiPanel->isVisible());
    QVERIFY(!gTempTime.isEmpty());
    v = w.views[w.curCamera];
    // A region high on the left: its caption would hang into the top lines.
    finger::tap(w.roiPanel->rectButton);
    finger::drag(v->mapToGlobal(QPoint(60, 110)), v->mapToGlobal(QPoint(400, 300)));
    QCOMPARE(v->curRoi, 0);
    QStringList out;
    for (int side = 0; side < 2; ++side) {
        out << faults(w, v);
        finger::tap(v->moveToggle);
        out << faults(w, v);
        finger::tap(v->moveToggle);
        finger::tap(w.roiPanel->showHide);
    }
    // A region 180 px from the top, whose panel would stand right above it,
    // over the top lines: the panel keeps below them.
    finger::tap(w.roiPanel->rectButton);
    finger::drag(v->mapToGlobal(QPoint(430, 180)), v->mapToGlobal(QPoint(600, 300)));
    QCOMPARE(v->curRoi, 1);
    const int panelTop = v->sliderA->geometry().top(), linesEnd = CammerWidget::editorHeaderBottom();
    QVERIFY2(panelTop >= linesEnd, qPrintable(QString("the panel's top at %1, the top lines' end at %2")
                                                  .arg(panelTop).arg(linesEnd)));
    out << faults(w, v);
    finger::tap(v, QPoint(v->width() / 2, v->height() / 2 + 150)); // away from the regions: none selected
    QCOMPARE(v->curRoi, -1);
    out << faults(w, v);
    out.removeDuplicates();
    QVERIFY2(out.isEmpty(), qPrintable(out.join('\n')));
}

QTEST_MAIN(TstEditorLayout)
#include "tst_editorlayout.moc"
