#pragma once
#include "netservices/netcards.h"
#include "widgets/ccomp_dialogframe.h"

#include <QJsonObject>
#include <QList>

class CheckBox;
class Edit;
class EditIP;
class NetworkManager;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class TextShowWidget;

// The settings of one network card: enabled, the card the station connects
// with, automatic or static address, and the static address, mask, gateway
// and DNS. The address fields host their pad in gpNetDialog.
class Network_CardItem_SetDia : public CComp_DialogFrame
{
    Q_OBJECT
public:
    Network_CardItem_SetDia(const NetCards::Card& card, QWidget* parent);
    // The card as the fields now say.
    NetCards::Card card() const;

    CheckBox* enableBox = nullptr;  // 613, in the title bar
    CheckBox* connectBox = nullptr; // 410
    QComboBox* mode = nullptr;      // 610: 609 automatic, 608 static
    EditIP* ip = nullptr;
    EditIP* mask = nullptr;
    EditIP* gateway = nullptr;
    Edit* dns = nullptr;

private:
    void showMode();
    NetCards::Card m_card;
};

// One card in the network settings' list; touching it opens its dialog.
class Network_CardItem : public QWidget
{
    Q_OBJECT
public:
    Network_CardItem(const NetCards::Card& card, NetworkManager* manager, QWidget* parent);
    const NetCards::Card& card() const { return m_card; }
    QPushButton* setButton() const { return m_set; }

public slots:
    void slotChgCardInfo();

private:
    void showCard();
    NetCards::Card m_card;
    NetworkManager* m_manager;
    QLabel* m_info = nullptr;
    QPushButton* m_set = nullptr;
};

// Applies a card's settings under the busy spinner and tells the operator
// that the change needs a restart (message 418).
class NetworkManager : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    bool applyCard(const NetCards::Card& card);
};

// The network settings dialog (gpNetDialog): the cards the panel shows, the
// station's name, the server it reports to and a connection test whose ping
// output appears in a panel above the dialog. It hosts the numeric pad of the
// address fields (keypad flag 0x20), so the pointer converts to QWidget* by
// plain upcast.
class NetworkSettingDialog : public CComp_DialogFrame
{
    Q_OBJECT
public:
    explicit NetworkSettingDialog(QWidget* parent = nullptr);

    QList<Network_CardItem*> cardItems() const { return m_items; }
    CheckBox* viewerLink = nullptr; // 327: the link to the viewer bridge
    EditIP* server = nullptr;      // 602
    Edit* port = nullptr;          // 601
    Edit* deviceName = nullptr;    // 600
    QPushButton* testButton = nullptr; // 411, in the title bar
    TextShowWidget* pingOutput = nullptr;
    QScrollArea* cardList = nullptr;
    NetworkManager* manager = nullptr;

    // Reads the cards and the kept settings into the fields again.
    void reload();

    // The server address kept in the settings: "serveraddr", or for files
    // written before that key, "serveraddress".
    static QString serverAddress(const QJsonObject& settings);

public slots:
    // Stores the station's settings and closes (the OK of the title bar).
    void acceptSettings();
    void testConnection();

private:
    QVBoxLayout* m_cards = nullptr;
    QList<Network_CardItem*> m_items;
};
