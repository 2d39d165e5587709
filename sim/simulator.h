#pragma once

#include "aimlist.h"
#include "dosermodel.h"
#include "faultplan.h"
#include "frameassembler.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class PtyLine;

/// One D415 doser controller on a pseudo-terminal: answers each valid request addressed to it with one
/// reply (at once, or as late as a fault or the delay says), runs the doser's jobs in time, plays the
/// faults it is told to, and logs the whole conversation on standard error.
class Simulator : public QObject
{
    Q_OBJECT
public:
    explicit Simulator(PtyLine *line, QObject *parent = nullptr);

    /// Opens the line and announces it ("SIM ready ..."); false with @p error explaining.
    bool start(QString *error);

    /// Carries out one control command (see --help); false with @p error explaining. Used for the
    /// start options as well as for the control channel.
    bool runCommand(const QString &command, QString *error);

public slots:
    /// A control line: carried out and answered with a CTL line.
    void controlLine(const QString &line);

signals:
    void quitRequested();

private slots:
    void bytesReceived(const QByteArray &bytes);
    void lineFailed(const QString &reason);
    void modelTimeout();
    void gapTimeout();

private:
    void handlePieces(const QList<FrameAssembler::Piece> &pieces);
    void handleFrame(const QByteArray &frame);
    void reply(const D415DataPacket &request);
    void logAims(const QList<AimList::Aim> &fired, const D415DataPacket &request, bool marks);
    void hangUp(int downMs);
    void reopenLine();
    void send(const QByteArray &bytes, const QString &meaning);
    void logModelEvents();
    void scheduleModel();
    void announceLine();

    bool runFault(const QString &verb, const QStringList &arguments, QString *error);
    bool runSetting(const QStringList &arguments, QString *error);
    bool runLineCommand(const QString &verb, QString *error);

    PtyLine *m_line;
    DoserModel m_model;
    FaultPlan m_faults;
    AimList m_aims;
    FrameAssembler m_assembler;
    QElapsedTimer m_clock;
    QTimer m_modelTimer;
    QTimer m_gapTimer;
    QTimer m_reopenTimer; // brings the line back after a hang-up
};
