#pragma once

#include "d415datapacket.h"

#include <QByteArray>
#include <QString>

/// The simulator's lines on standard error, one per event: local time, a tag, then the text.
///
///     10:15:02.113 REQ 9E 00 00 00 00 00 00 00 00 00 00 4B  doser 30, cmd 0/0: net weight?
///     10:15:02.113 REP 80 1E 00 00 10 00 00 00 00 01 00 6F  doser 30, cmd 0/0: stopped, hopper empty; 0.0
///
/// Tags: SIM (start, link, stop), REQ (a valid request for this doser), REP (the reply as sent),
/// IGN (bytes or frames that get no reply, with the reason), FLT (a fault played on a reply),
/// EVT (what the doser did), CTL (the answer to a control command: "ok ..." or "error ...").
namespace ConversationLog {

void line(const char *tag, const QString &text);

/// "9E 00 ..." in upper-case hex.
QString hex(const QByteArray &bytes);

QString describeRequest(const D415DataPacket &request);
QString describeReply(const D415DataPacket &reply);
/// Why a 12-byte frame is not a valid frame (the first test it fails).
QString invalidReason(const QByteArray &frame);

} // namespace ConversationLog
