#include "widgets/splashframe.h"
#include "frame/logmanager.h"

#include <QApplication>
#include <QDebug>
#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

SplashFrame::SplashFrame()
    : QSplashScreen(QPixmap())
{
    setObjectName("splashframe");
    // The panel's screen is 1920 x 1080; a smaller screen (a development
    // display) gets the splash at its own size so the bar stays centred.
    QSize size(1920, 1080);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->geometry().size());
    setGeometry(0, 0, size.width(), size.height());

    m_dialog = new QDialog(this);
    m_dialog->setObjectName("progressdialog");
    m_dialog->setFixedSize(size);
    m_dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowTitleHint | Qt::CustomizeWindowHint);

    auto* label = new QLabel(m_dialog);
    label->setObjectName("loadlabel");
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(600);
    label->setText(QString::fromUtf8("程序加载中.."));

    m_bar = new QProgressBar(m_dialog);
    m_bar->setObjectName("progressbar");
    m_bar->setFixedSize(500, 50);
    m_bar->setValue(0);

    auto* dlay = new QVBoxLayout(m_dialog);
    dlay->addStretch(1);
    dlay->addWidget(m_bar, 0, Qt::AlignHCenter);
    dlay->addWidget(label, 1, Qt::AlignHCenter | Qt::AlignTop);
    dlay->addStretch(0);
    dlay->setSpacing(10);
    dlay->setContentsMargins(0, 0, 0, 0);

    auto* lay = new QVBoxLayout(this);
    lay->addWidget(m_dialog, 0, Qt::AlignCenter);
    lay->setContentsMargins(2, 2, 2, 2);

    setStyleSheet(getStyle());
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    show();
    // The progress part is a dialog window of its own: showing the splash
    // does not show it, and without it the panel stays blank during start-up.
    m_dialog->show();
    QApplication::processEvents();
}

QString SplashFrame::getStyle()
{
    return QStringLiteral(
               "QProgressBar#progressbar{font-size:30px;text-align: center;background-color: gray;border-radius: 15px; color: white;}"
               "QProgressBar::chunk:enabled#progressbar{border-radius: 4px; background: #3498DB;margin: 6px;}")
        + QStringLiteral("QDialog#progressdialog{border-image: url(./images/background.png);border-width: 1px;}")
        + QStringLiteral("QLabel{color: #FFFFFF;font-size: 26px;}");
}

void SplashFrame::flushstep(int step, const QString& text)
{
    if (!m_dialog)
        return; // the progress part is gone after step 100
    if (!text.isEmpty()) {
        if (auto* label = findChild<QLabel*>("loadlabel")) {
            label->setText(text);
            label->repaint();
        }
    }
    // Logged so a start that stalls can be placed from the log alone; the
    // first step comes before the log is set up and is only shown.
    if (LogManager::__instance)
        qInfo().noquote() << "splash step" << step;
    const int v = qMax(qBound(0, step, 100), m_step);
    m_step = v;
    m_bar->setValue(v);
    m_bar->repaint();
    show();
    m_dialog->show();
    QApplication::processEvents();
    if (step > 99) {
        m_dialog->close();
        delete m_dialog; // takes the bar and the status line with it
        m_dialog = nullptr;
        m_bar = nullptr;
    }
}

QString SplashFrame::statusText() const
{
    const auto* label = m_dialog ? m_dialog->findChild<QLabel*>("loadlabel") : nullptr;
    return label ? label->text() : QString();
}

int SplashFrame::barValue() const
{
    return m_bar ? m_bar->value() : -1;
}
