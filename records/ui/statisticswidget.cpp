#include "records/ui/statisticswidget.h"
#include "frame/findau.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "records/ui/camereatabwidget.h"
#include "records/ui/camerastatisticswidget.h"
#include "records/ui/dateseletdialog.h"
#include "records/exportresultworker.h"
#include "records/resstatisticsdatabase.h"
#include "records/resstatisticsparam.h"
#include "widgets/ccomp_diawait.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/warnbox.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

StatisticsWidget* StatisticsWidget::instance = nullptr;

namespace {
const char* const kFontFamily = "wqy-microhei";
const int kExportFailedMsg = 795;
const int kExportPartlyMsg = 780; // exported, except the days named
const int kExportEmptyMsg = 912;  // no statistics in the days chosen, nothing written

} // namespace

StatisticsWidget* StatisticsWidget::getInstance()
{
    if (!instance)
        instance = new StatisticsWidget;
    return instance;
}

StatisticsWidget::StatisticsWidget(QWidget* parent)
    : QWidget(parent)
{
    // Made with new by the main window or on first use: either way the one page.
    if (!instance)
        instance = this;
    setFixedSize(gShowW, gShowH);
    setStyleSheet(QStringLiteral("StatisticsWidget{background-color: #FFFFFF;background: #FFFFFF;}QListWidget "
                                 "{font-size:%1px;}QListWidget::item { height: %2px; }")
                      .arg(std::max(14, CameraStatisticsWidget::scaled(22)))
                      .arg(std::max(30, CameraStatisticsWidget::scaled(50))));
    setAttribute(Qt::WA_StyledBackground);
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint);
    hide();

    registerStatisticsMetaTypes();
    qRegisterMetaType<QPair<QString, QString>>("QPair<QString,QString>");
    m_thread = new QThread;
    m_worker = new ExportResultWorker;
    m_worker->moveToThread(m_thread);
    // The converter reads the day's file as it stands: the counts since the
    // last minute's save go into it first.
    connect(this, &StatisticsWidget::sigExportData, this, [] {
        ResStatisticsParam* model = ResStatisticsParam::getInstance();
        model->setTimer(false);
        model->storeDay();
    });
    connect(this, &StatisticsWidget::sigExportData, m_worker, &ExportResultWorker::work, Qt::QueuedConnection);
    connect(m_worker, &ExportResultWorker::exportProgress, this, &StatisticsWidget::sigExportProgress,
            Qt::QueuedConnection);
    connect(m_worker, &ExportResultWorker::failed, this, [this] { m_exportFailed = true; }, Qt::QueuedConnection);
    connect(m_worker, &ExportResultWorker::unreadable, this, [this](const QStringList& days) { m_unreadDays = days; },
            Qt::QueuedConnection);
    connect(m_worker, &ExportResultWorker::nothingToExport, this, [this] { m_exportEmpty = true; },
            Qt::QueuedConnection);
    connect(m_worker, &ExportResultWorker::finish, this, &StatisticsWidget::exportFinished, Qt::QueuedConnection);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

StatisticsWidget::~StatisticsWidget()
{
    // An export in progress runs to its end (the converter is bounded).
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    if (instance == this)
        instance = nullptr;
}

void StatisticsWidget::createWidget(QStringList names)
{
    if (m_cameraTabs)
        return;
    const int W = width(), H = height();
    QFont font{QString::fromLatin1(kFontFamily)};
    font.setPixelSize(std::max(16, CameraStatisticsWidget::scaled(33)));
    const QFontMetrics fm(font);
    const int rowH = std::max(CameraStatisticsWidget::scaled(50), fm.height() + 8);
    const int margin = 10, gap = 6;

    // Day list and camera tabs share the width below the top row; the list
    // keeps room for a date.
    const int dayW = std::max(CameraStatisticsWidget::scaled(160),
                              QFontMetrics(font).horizontalAdvance(QStringLiteral("2024-05-03.1")) + 24);
    const int tabW = std::min(W / 11 * 10 - 2, W - 2 * margin - gap - dayW);
    const int tabH = H - 2 * margin - rowH - gap;
    const int tabFont = std::max(13, CameraStatisticsWidget::scaled(25));
    const int tabHeight = std::max(CameraStatisticsWidget::scaled(50), tabFont + 14);

    m_cameraTabs = new QTabWidget(this);
    m_cameraTabs->setFixedSize(tabW, tabH);
    m_cameraTabs->setStyleSheet(QStringLiteral("QTabBar::tab {   min-width: %1px;   height: %2px;   font-size: "
                                               "%3px;}QTabBar::tab:selected {    background: #ff9900;    color: white;}")
                                    .arg(CameraStatisticsWidget::scaled(200))
                                    .arg(tabHeight)
                                    .arg(tabFont));
    for (int i = 0; i <= numCamera && i < 9; ++i) {
        m_cameras[i] = new CamereaTabWidget((i + 8) % 9, names, m_cameraTabs);
        m_cameras[i]->setFixedSize(tabW, tabH - tabHeight - 4);
        m_cameras[i]->setStyleSheet(QStringLiteral("QTabBar::tab{min-width: %1px; height: %2px; font-size: %3px;}")
                                        .arg(CameraStatisticsWidget::scaled(230))
                                        .arg(tabHeight)
                                        .arg(tabFont));
        m_cameraTabs->addTab(m_cameras[i], i == 0 ? messageText(585) : messageText(586).arg(i));
    }

    m_days = new QListWidget(this);
    m_days->setFixedSize(dayW, tabH);
    m_days->setFont(font);
    connect(m_days, &QListWidget::itemClicked, this, &StatisticsWidget::UpdateRecord);

    auto makeList = [&](int w, int itemH) {
        auto* c = new ComboBox(this);
        c->setFont(font);
        c->view()->setFont(font);
        c->setFixedSize(w, rowH);
        c->setItemHeight(itemH);
        return c;
    };
    // The top row of the 1920-pixel layout is wider than the page; the
    // group list and the buttons give up a little so it fits a 1024 panel.
    m_groups = makeList(std::max(CameraStatisticsWidget::scaled(240), 120), rowH);
    connect(m_groups, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        ResStatisticsParam::getInstance()->curGroupName = text;
        refreshCurrent();
    });

    auto label = [&](int msg, Qt::Alignment align) {
        auto* l = new QLabel(messageText(msg), this);
        l->setFont(font);
        l->setFixedSize(std::max(CameraStatisticsWidget::scaled(100), fm.horizontalAdvance(l->text()) + 6), rowH);
        l->setAlignment(align | Qt::AlignVCenter);
        return l;
    };
    const int hourW = std::max(CameraStatisticsWidget::scaled(100), fm.horizontalAdvance(QStringLiteral("23")) + 40);
    auto shiftEditor = [&](int fromMsg, ComboBox*& start, ComboBox*& end) {
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        start = makeList(hourW, std::max(30, CameraStatisticsWidget::scaled(40)));
        end = makeList(hourW, std::max(30, CameraStatisticsWidget::scaled(40)));
        for (ComboBox* c : {start, end})
            for (int h = 0; h < 24; ++h)
                c->addItem(QString::number(h), h);
        row->addWidget(label(fromMsg, Qt::AlignRight));
        row->addWidget(start);
        auto* to = label(739, Qt::AlignHCenter);
        to->setFixedWidth(std::max(fm.horizontalAdvance(to->text()) + 16, CameraStatisticsWidget::scaled(60)));
        row->addWidget(to);
        row->addWidget(end);
        return row;
    };
    QHBoxLayout* dayShift = shiftEditor(738, m_hours[0], m_hours[1]);
    QHBoxLayout* nightShift = shiftEditor(740, m_hours[2], m_hours[3]);
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    m_hours[0]->setCurrentIndex(model->morningsStart);
    m_hours[1]->setCurrentIndex(model->morningsEnd);
    m_hours[2]->setCurrentIndex(model->nightStart);
    m_hours[3]->setCurrentIndex(model->nightEnd);

    auto button = [&](int msg) {
        auto* b = new ColorButton(messageText(msg), this, 3);
        QFont bf;
        bf.setPixelSize(ColorButton::fontSizeFor(3));
        b->setFixedSize(std::max(CameraStatisticsWidget::scaled(260), QFontMetrics(bf).horizontalAdvance(b->text()) + 24),
                        rowH);
        b->fitCaption();
        return b;
    };
    m_return = button(58);
    m_export = button(326);
    connect(m_return, &QPushButton::clicked, this, &StatisticsWidget::SlotConfirm);
    connect(m_export, &QPushButton::clicked, this, &StatisticsWidget::SlotExportData);

    // The top row spreads its parts over the page's width.
    auto* top = new QHBoxLayout;
    top->setSpacing(gap);
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(m_groups);
    top->addStretch();
    top->addLayout(dayShift);
    top->addStretch();
    top->addLayout(nightShift);
    top->addStretch();
    top->addWidget(m_return);
    top->addStretch();
    top->addWidget(m_export);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(gap);
    middle->addWidget(m_days);
    middle->addWidget(m_cameraTabs);
    middle->addStretch();

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(margin, margin, margin, margin);
    lay->setSpacing(gap);
    lay->addLayout(top);
    lay->addLayout(middle);
    lay->addStretch();
}

void StatisticsWidget::connectModel(ResStatisticsParam* model)
{
    connect(this, &StatisticsWidget::sigUpdateRecord, model, &ResStatisticsParam::slotUpdateRecord);
    connect(model, &ResStatisticsParam::sigLoadFinish, this, &StatisticsWidget::slotUpdateRecord);
    connect(model, &ResStatisticsParam::sigCheckUpdate, this, &StatisticsWidget::checkUpdate);
    connect(model, &ResStatisticsParam::sigUpdateList, this, &StatisticsWidget::updateList);
}

void StatisticsWidget::showEvent(QShowEvent* e)
{
    initWidget();
    QWidget::showEvent(e);
}

void StatisticsWidget::initWidget()
{
    if (!m_cameraTabs)
        return;
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    const int hours[4] = {model->morningsStart, model->morningsEnd, model->nightStart, model->nightEnd};
    for (int i = 0; i < 4; ++i)
        m_hours[i]->setCurrentIndex(hours[i]);
    updateList();
    updateGroupsList(true);
}

void StatisticsWidget::updateList()
{
    if (!m_days)
        return;
    m_days->clear();
    m_days->addItem(ResStatisticsParam::getInstance()->getCurDBDate());
    const QStringList names = QDir(ResStatisticsDatabase::archiveDir())
                                  .entryList({QStringLiteral("*.db")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                             QDir::Name);
    for (int i = names.size() - 1; i >= 0; --i)
        m_days->addItem(QString(names[i]).remove(QStringLiteral(".db")));
    m_days->setCurrentRow(0);
    UpdateRecord(m_days->item(0));
}

void StatisticsWidget::UpdateRecord(QListWidgetItem* item)
{
    if (!item)
        return;
    const QString path =
        QStringLiteral("%1//%2.db").arg(QFileInfo(ResStatisticsDatabase::archiveDir()).absoluteFilePath(), item->text());
    emit sigUpdateRecord(m_days->row(item), path);
}

void StatisticsWidget::updateGroupsList(bool block)
{
    if (!m_groups)
        return;
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    if (block)
        m_groups->blockSignals(true);
    m_groups->clear();
    m_groups->addItems(model->getGroups());
    model->curGroupName = m_groups->currentText();
    if (block)
        m_groups->blockSignals(false);
    if (m_days->currentRow() == 0)
        m_groups->setCurrentIndex(m_groups->findText(model->getCurGroupName(), Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void StatisticsWidget::slotUpdateRecord(bool)
{
    updateGroupsList(true);
    refreshCurrent();
}

void StatisticsWidget::checkUpdate()
{
    // A hidden page refreshes when it is shown; counting stays cheap.
    if (!m_days || !isVisible() || m_days->currentRow() != 0)
        return;
    // The shown day is a copy of today taken when it was chosen: bring in
    // the new result (the live sums are kept current by the count; sharing
    // the groups costs nothing until the next count).
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    const QStringList groups = model->getGroups();
    model->showCount.date = model->liveCount.date;
    model->showCount.groups = model->liveCount.groups;
    if (model->getGroups() != groups)
        updateGroupsList(true);
    refreshCurrent();
}

void StatisticsWidget::refreshCurrent()
{
    if (!m_cameraTabs)
        return;
    if (auto* tab = qobject_cast<CamereaTabWidget*>(m_cameraTabs->currentWidget()))
        tab->updateData();
}

void StatisticsWidget::SlotConfirm()
{
    QJsonObject obj{{QStringLiteral("morningsStart"), m_hours[0]->currentIndex()},
                    {QStringLiteral("morningsEnd"), m_hours[1]->currentIndex()},
                    {QStringLiteral("nightStart"), m_hours[2]->currentIndex()},
                    {QStringLiteral("nightEnd"), m_hours[3]->currentIndex()}};
    ResStatisticsParam* model = ResStatisticsParam::getInstance();
    if (model->checkParam(obj) && askOperator(234)) {
        model->laodConfigFromJson(obj);
        model->setCurGroup();
        model->checkDate();
    }
    hide();
}

void StatisticsWidget::SlotExportData()
{
    if (!m_exportIdle) {
        tellOperator(654);
        return;
    }
    // The last export's notice still up: its result first, then this one.
    delete m_startNote;
    tellExportResult();
    // The drive search waits on outside commands for seconds: off the GUI
    // thread, behind the busy spinner, so the station keeps polling.
    for (;;) {
        QString drive;
        {
            CComp_DiaWait wait([&drive] { drive = FindAU(); }, this);
            if (!wait.jobFinished())
                wait.exec();
        }
        if (!drive.isEmpty())
            break;
        if (!askOperator(320))
            return;
    }
    DateSeletDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    auto* note = new WarnBox(this);
    m_startNote = note;
    connect(note, &QDialog::finished, note, &QObject::deleteLater);
    // Queued: the result box comes once the notice has gone.
    connect(note, &QDialog::finished, this, &StatisticsWidget::tellExportResult, Qt::QueuedConnection);
    note->setText(messageText(732));
    note->show();
    m_exportIdle = false;
    m_exportFailed = m_exportEmpty = false;
    m_unreadDays.clear();
    emit sigExportData(dialog.getDays());
}

void StatisticsWidget::exportFinished()
{
    m_exportIdle = true;
    ResStatisticsParam::getInstance()->setTimer(true);
    emit sigExportDataFinish();
    m_resultMsg = m_exportFailed             ? kExportFailedMsg
                  : m_exportEmpty            ? kExportEmptyMsg
                  : m_unreadDays.isEmpty()   ? 147
                                             : kExportPartlyMsg;
    m_resultText = messageText(m_resultMsg);
    if (m_resultMsg == kExportPartlyMsg)
        m_resultText = m_resultText.arg(m_unreadDays.join(QStringLiteral(", ")));
    // The operator reads the start first and the result last: while the
    // start notice shows, the result waits for its Confirm.
    if (!m_startNote || !m_startNote->isVisible())
        tellExportResult();
}

void StatisticsWidget::tellExportResult()
{
    if (m_resultMsg == 0)
        return;
    const int msg = m_resultMsg;
    m_resultMsg = 0;
    tellOperator(msg, m_resultText);
}
