#include "widgets/networksettingdialog.h"

#include "controller/ui/mapplication.h"
#include "frame/globals.h"
#include "frame/operatorprompt.h"
#include "netservices/zev_netmn.h"
#include "widgets/c_type_com.h"
#include "widgets/ccomp_diawait.h"
#include "widgets/checkbox.h"
#include "widgets/edit.h"
#include "widgets/editip.h"
#include "widgets/numberinput.h"
#include "widgets/textshowwidget.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {
// The frame asks for 1000 x 800; the dialog keeps to the screen it is on.
void fitScreen(QDialog* d, int w, int h)
{
    // The frame's flags drop the window type: with a parent the dialog would
    // open inside it as a child, never modal.
    d->setWindowFlags(d->windowFlags() | Qt::Dialog);
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    d->setMinimumSize(0, 0);
    d->resize(std::min(w, screen.width()), std::min(h, screen.height()));
}

constexpr int kCaption = 270;

// Empty octets read as 0: "0.0.0.0" is no address.
bool usable(const QString& address)
{
    return NetCards::isAddress(address) && address != QLatin1String("0.0.0.0");
}

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setFixedWidth(kCaption);
    return l;
}

QHBoxLayout* row(QWidget* a, QWidget* b)
{
    auto* r = new QHBoxLayout;
    if (auto* e = qobject_cast<EditIP*>(a)) {
        // Caption and four octets, not the whole row; the caption as wide as
        // the other rows' so longer languages fit.
        if (auto* l = e->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            l->setFixedWidth(kCaption);
        e->setFixedWidth(kCaption + 460);
    }
    r->addWidget(a);
    if (b)
        r->addWidget(b);
    r->addStretch();
    return r;
}
} // namespace

Network_CardItem_SetDia::Network_CardItem_SetDia(const NetCards::Card& card, QWidget* parent)
    : CComp_DialogFrame(card.name, parent)
    , m_card(card)
{
    enableBox = new CheckBox(this, messageText(613));
    enableBox->setChecked(card.enabled);
    addTitleWgt(enableBox);

    QWidget* b = body();
    connectBox = new CheckBox(b, messageText(410));
    connectBox->setChecked(card.connect);
    mode = new QComboBox(b);
    mode->addItems({messageText(609), messageText(608)});
    mode->setCurrentIndex(card.dhcp ? 0 : 1);
    setStyleCombobox(mode, new QStyledItemDelegate(mode));
    ip = new EditIP(QStringLiteral("IP"), 1, b);
    mask = new EditIP(QStringLiteral("Mask"), 1, b);
    gateway = new EditIP(messageText(611), 1, b);
    ip->setAddress(card.ip);
    mask->setAddress(card.mask);
    gateway->setAddress(card.gateway);
    dns = new Edit(6, b, 0);
    dns->setText(card.dns);
    dns->setFixedSize(400, 50);

    auto* lay = new QVBoxLayout(b);
    lay->setContentsMargins(20, 10, 20, 10);
    lay->addWidget(connectBox);
    lay->addLayout(row(caption(messageText(610), b), mode));
    for (EditIP* e : {ip, mask, gateway})
        lay->addLayout(row(e, nullptr));
    lay->addLayout(row(caption(messageText(612), b), dns));
    lay->addStretch();
    setDefaultWgt(this);
    connect(mode, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { showMode(); });
    showMode();
    fitScreen(this, 900, 640);
}

void Network_CardItem_SetDia::showMode()
{
    // An automatic address leaves nothing to type.
    const bool fixed = mode->currentIndex() == 1;
    for (QWidget* w : {static_cast<QWidget*>(ip), static_cast<QWidget*>(mask), static_cast<QWidget*>(gateway),
                       static_cast<QWidget*>(dns)})
        w->setEnabled(fixed);
}

NetCards::Card Network_CardItem_SetDia::card() const
{
    NetCards::Card c = m_card;
    c.enabled = enableBox->isChecked();
    c.connect = connectBox->isChecked();
    c.dhcp = mode->currentIndex() == 0;
    c.ip = ip->getAddress();
    c.mask = mask->getAddress();
    c.gateway = gateway->getAddress();
    c.dns = dns->text().trimmed();
    return c;
}

Network_CardItem::Network_CardItem(const NetCards::Card& card, NetworkManager* manager, QWidget* parent)
    : QWidget(parent)
    , m_card(card)
    , m_manager(manager)
{
    setFixedHeight(70);
    m_info = new QLabel(this);
    m_set = new QPushButton(this);
    m_set->setFixedSize(220, 56);
    CComp_DialogFrame::setStylePushButton(m_set, QStringLiteral("#8BC34A"), 26);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(10, 5, 10, 5);
    lay->addWidget(m_set);
    lay->addWidget(m_info, 1);
    connect(m_set, &QPushButton::clicked, this, &Network_CardItem::slotChgCardInfo);
    showCard();
}

void Network_CardItem::showCard()
{
    m_set->setText(m_card.name);
    QString info = m_card.mac + "  " + (m_card.dhcp ? messageText(609) : messageText(608) + " " + m_card.ip);
    if (!m_card.enabled)
        info += "  (" + messageText(613) + ": -)";
    else if (m_card.connect)
        info += "  " + messageText(410);
    m_info->setText(info);
}

void Network_CardItem::slotChgCardInfo()
{
    // The press that opened the dialog must not arm the touch calibration.
    if (MApplication::_instance)
        MApplication::_instance->manualStopTscTimeup();
    Network_CardItem_SetDia dia(m_card, gpNetDialog ? static_cast<QWidget*>(gpNetDialog) : window());
    const int result = dia.exec();
    // The pad lived in the dialogs; the next field makes a fresh one.
    if (gpNumPad) {
        gpNumPad->close();
        gpNumPad = nullptr;
    }
    if (result != QDialog::Accepted)
        return;
    const NetCards::Card changed = dia.card();
    if (changed == m_card)
        return;
    if (m_manager->applyCard(changed)) {
        m_card = changed;
        showCard();
        // One card connects the station: the list shows the others released.
        if (changed.connect)
            if (auto* dlg = qobject_cast<NetworkSettingDialog*>(window()))
                for (Network_CardItem* other : dlg->cardItems())
                    if (other != this && other->m_card.connect) {
                        other->m_card.connect = false;
                        other->showCard();
                    }
    }
}

bool NetworkManager::applyCard(const NetCards::Card& card)
{
    bool ok = false;
    CComp_DiaWait wait([&ok, card] { ok = NetCards::apply(card); });
    wait.exec();
    if (ok)
        tellOperator(418);
    return ok;
}

NetworkSettingDialog::NetworkSettingDialog(QWidget* parent)
    : CComp_DialogFrame(messageText(328), parent)
    , manager(new NetworkManager(this))
{
    testButton = new QPushButton(messageText(411), this);
    setStylePushButton(testButton, QStringLiteral("#03A9F4"), 28);
    testButton->setFixedHeight(50);
    addTitleWgt(testButton);
    connect(testButton, &QPushButton::clicked, this, &NetworkSettingDialog::testConnection);
    disconnect(okButton(), nullptr, this, nullptr);
    connect(okButton(), &QPushButton::pressed, this, &NetworkSettingDialog::acceptSettings);

    QWidget* b = body();
    cardList = new QScrollArea(b);
    cardList->setWidgetResizable(true);
    cardList->setStyleSheet(C_Type_COM::getSlider());
    auto* inner = new QWidget;
    m_cards = new QVBoxLayout(inner);
    m_cards->setContentsMargins(0, 0, 0, 0);
    m_cards->addStretch();
    cardList->setWidget(inner);

    viewerLink = new CheckBox(b, messageText(327));
    server = new EditIP(messageText(602), 0, b);
    port = new Edit(6, b, 0);
    port->setFixedSize(200, 50);
    deviceName = new Edit(6, b, 0);
    deviceName->setFixedSize(400, 50);

    auto* lay = new QVBoxLayout(b);
    lay->setContentsMargins(20, 10, 20, 10);
    lay->addWidget(cardList, 1);
    lay->addWidget(new QLabel(messageText(424), b));
    lay->addLayout(row(caption(messageText(600), b), deviceName));
    lay->addWidget(viewerLink);
    lay->addLayout(row(server, nullptr));
    lay->addLayout(row(caption(messageText(601), b), port));
    setDefaultWgt(this);

    // The ping output, above everything, until its close button.
    pingOutput = new TextShowWidget(this);
    pingOutput->hide();
    connect(pingOutput, &TextShowWidget::sigHideWidget, pingOutput, &QWidget::hide);
    fitScreen(this, 1000, 800);
    reload();
}

void NetworkSettingDialog::reload()
{
    qDeleteAll(m_items);
    m_items.clear();
    for (const NetCards::Card& c : NetCards::cards()) {
        auto* item = new Network_CardItem(c, manager, cardList->widget());
        m_cards->insertWidget(m_cards->count() - 1, item);
        m_items << item;
    }
    const QJsonObject cfg = NetCards::readConfig();
    deviceName->setText(cfg.value("devicename").toString());
    viewerLink->setChecked(ZEV_NETMN::viewerLinkOn(cfg));
    server->setAddress(serverAddress(cfg));
    const int p = cfg.value("serverport").toInt();
    port->setText(p > 0 ? QString::number(p) : QString());
}

QString NetworkSettingDialog::serverAddress(const QJsonObject& settings)
{
    const QJsonValue address = settings.value("serveraddr");
    return (address.isUndefined() ? settings.value("serveraddress") : address).toString();
}

void NetworkSettingDialog::acceptSettings()
{
    const QJsonObject before = NetCards::readConfig();
    // What the fields say, against what is kept: a name or address never
    // stored reads as empty, so a first save with nothing typed changes nothing.
    QJsonObject values{{"devicename", deviceName->text().trimmed()}};
    bool changed = values.value("devicename").toString() != before.value("devicename").toString();
    const QString address = server->getAddress();
    if (usable(address)) {
        values.insert("serveraddr", address);
        changed |= address != serverAddress(before);
    }
    bool ok = false;
    const int p = port->text().trimmed().toInt(&ok);
    if (ok && p > 0 && p < 65536) {
        values.insert("serverport", p);
        changed |= before.value("serverport") != QJsonValue(p);
    }
    // The viewer link follows its switch at once; the rest needs a restart.
    const bool linkChanged = ZEV_NETMN::viewerLinkOn(before) != viewerLink->isChecked();
    if (linkChanged)
        values.insert(ZEV_NETMN::viewerLinkKey(), viewerLink->isChecked());
    if ((changed || linkChanged) && NetCards::mergeConfig(values)) {
        if (linkChanged)
            ZEV_NETMN::getInstance()->startViewerLink(NetCards::readConfig());
        if (changed)
            tellOperator(418);
    }
    if (gpNumPad)
        gpNumPad->HideUpdate();
    acceptDialog();
}

namespace {
// Why a ping that reached nothing failed, from what it printed: something
// a person at the panel can act on, or ping's own last word.
QString pingFailure(const QString& output)
{
    if (output.contains(QLatin1String("command not found")) || output.contains(QLatin1String("ping: not found")))
        return messageText(883);
    if (output.contains(QLatin1String("100% packet loss")) || output.contains(QLatin1String(" 0 received"))
        || output.trimmed().isEmpty())
        return messageText(882);
    return output.trimmed().split(QLatin1Char('\n')).last().trimmed();
}
} // namespace

void NetworkSettingDialog::testConnection()
{
    const QString address = server->getAddress();
    QString out;
    if (!usable(address)) {
        out = messageText(880);
    } else {
        CComp_DiaWait wait([&out, address] { out = NetCards::ping(address); });
        wait.exec();
        const bool reached = out.contains(QStringLiteral("ttl="), Qt::CaseInsensitive);
        // A failure says what was pinged and why it failed before the output.
        const QString why = reached ? QString() : messageText(881).arg(address, pingFailure(out)) + "\n";
        out = messageText(reached ? 420 : 421) + "\n" + why + "\n" + out;
    }
    pingOutput->textView()->setPlainText(out);
    pingOutput->setGeometry(rect().adjusted(60, 80, -60, -60));
    pingOutput->show();
    pingOutput->raise();
}
