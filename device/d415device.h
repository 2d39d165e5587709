#pragma once

#include "d415datapacket.h"
#include "device.h"

#include <QList>
#include <QString>

/// The workstation's model of one D415 doser controller. Each command slot builds one request packet
/// addressed to the doser (its deviceID) and emits it through requestSignal(), which the constructor
/// connects to the link's sendCommandPacket(). Every reply the link delivers reaches every device; the
/// one whose number matches the sender emits the doser's state word, acts on its state bits and error
/// number, and emits the reply's value as text in the hasGet... signal chosen by command and parameter.
///
/// A reply is read by the command and parameter it carries. A failed reply (none came, or it failed a
/// check) is never a value or a state: a request that is safe to repeat is sent once more, and only a
/// second miss is reported, as a connection error.
class D415Device : public Device
{
    Q_OBJECT
public:
    /// Connects to @p link (a D415Link; not owned, may be null): requestSignal() to its
    /// sendCommandPacket() and its replyPacketReceived() to the slot of the same name.
    explicit D415Device(QObject *link);
    ~D415Device() override;

    /// The product the main window keeps with this doser; the device never reads it.
    QString productName() const { return m_productName; }
    void setProductName(const QString &name) { m_productName = name; }

    /// Whether both connections to the link were made (false without a link).
    bool isConnectedToLink() const { return m_connectedToLink; }

signals:
    /// Never emitted; kept for the callers that connect to it.
    void hasSysMes(QString message);
    /// One request packet for the link.
    void requestSignal(D415DataPacket packet);
    /// The doser has stopped with an empty hopper: the next job is a fill.
    void workStoppedMustDownloadSignal(int deviceID);
    /// The doser has stopped with a loaded hopper: the next job is a discharge.
    void workStoppedMustUploadSignal(int deviceID);
    /// A request got no valid reply (for a request safe to repeat: twice in a row).
    void hasConnectionErrorSignal(int deviceID);
    /// The doser reports an error the operator must read.
    void hasErrorSignal(int deviceID, QString message);
    /// The doser is in fault or could not be reached: production must stop.
    void needToStopTheWork(int deviceID);
    // The five action signals are never emitted; kept for the callers that connect to them.
    void readyIsWaitingCommandActionSignal(int deviceID);
    void weightMeasurementBeforeDispensingActionSignal(int deviceID);
    void weightMeasurementAfterDispensingActionSignal(int deviceID);
    void doseIsDownloadingActionSignal(int deviceID);
    void doseIsUploadingActionSignal(int deviceID);
    /// The state word of every reply: "АВАРИЯ", "РАБОТА" or "ОСТАНОВ".
    void hasCurrentStateSignal(int deviceID, QString state);
    /// Reply to setDoseWeight(): the dose weight in force.
    void hasSetDoseWeightSignal(int deviceID, QString weight);
    /// Reply to uploadDose(): the weight discharged.
    void hasGetDoseUploadSignal(int deviceID, QString weight);
    void hasGetSumWeightOfLastDownloadSignal(int deviceID, QString weight);
    /// Doses since the shift counters were reset.
    void hasGetDoseCountSignal(int deviceID, QString count);
    /// Weight since the shift counters were reset, in units of the last decimal place.
    void hasGetTotalWeightSignal(int deviceID, QString raw);
    /// Lifetime doses.
    void hasGetTotalCommonDoseCountSignal(int deviceID, QString raw);
    /// Lifetime weight in units of the last decimal place; it changes once a filled dose is weighed.
    void hasGetTotalCommonWeightSignal(int deviceID, QString raw);
    void hasGetDoseFaultPlusSignal(int deviceID, QString tolerance);
    void hasGetDoseFaultMinusSignal(int deviceID, QString tolerance);
    /// The weight now in the hopper.
    void hasGetWeightNETTOSignal(int deviceID, QString weight);
    void hasGetPOVersionSignal(int deviceID, QString version);
    /// The scale step as text, then the number of decimals of all the doser's weights.
    void hasGetScaleSignal(int deviceID, QString scale);
    void hasGetScaleSignal(int deviceID, quint8 decimals);
    /// The maximum dose weight.
    void hasGetNPDSignal(int deviceID, QString weight);
    /// Weight unit: "г", "кг" or "т".
    void hasGetWeightScaleSignal(int deviceID, QString unit);
    void hasGetTotalWeightScaleSignal(int deviceID, QString unit);

public slots:
    /// Every packet the link delivers; @p index is 0 when the request got no reply.
    void replyPacketReceived(D415DataPacket packet, quint32 index, quint32 expected);
    void setDoseWeight(QString weight, quint8 decimals);
    void setDoseFaultPlus(QString value, quint8 decimals);
    void setDoseFaultMinus(QString value, quint8 decimals);
    void startTestMode();
    void stopTestMode();
    void stopWork();
    /// Discharge the hopper.
    void uploadDose();
    /// Fill the dose weight set before.
    void downloadDose();
    /// Fill one dose of @p weight.
    void downloadDose(QString weight, quint8 decimals);
    void doFullCycle();
    void continueDownload();
    void resetErrorFlag();
    void requestDoseFaultPlus();
    void requestDoseFaultMinus();
    void requestSumWeightOfLastDownload();
    void requestTotalCommonDoseCount();
    void requestDoseCount();
    void requestTotalCommonWeight();
    void requestTotalWeight();
    void requestWeightNETTO();
    void requestPOVersion();
    void requestScale();
    void requestNPD();
    void requestWeightScale();
    void requestTotalWeightScale();

private:
    void connectToLink();
    void sendRequest(quint8 command, quint8 parameter);
    void sendValueRequest(const char *name, quint8 command, quint8 parameter, const QString &text, quint8 decimals);
    void handleStateFlags(const D415DataPacket &packet);
    void emitValue(const D415DataPacket &packet);
    void emitCounterValue(const D415DataPacket &packet);
    void emitServiceValue(const D415DataPacket &packet);
    void prepareRequest(quint8 command, quint8 parameter);
    static quint16 requestKey(const D415DataPacket &packet);
    static bool asksAgainSafely(quint8 command);
    void askAgain(const D415DataPacket &failed);

    QString m_productName;
    D415DataPacket m_request;
    QObject *m_link = nullptr;
    bool m_connectedToLink = false;
    // Requests (command and parameter) sent once more after a failed reply, whose next miss counts.
    QList<quint16> m_askedAgain;
};
