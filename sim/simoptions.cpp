#include "simoptions.h"

#include <QCommandLineParser>

namespace {

struct ValueOption
{
    const char *name;
    const char *valueName;
    const char *description;
    const char *command; // "set KEY" or a fault verb; the option's value follows
};

// In this order at start: the address and the decimals come before the weights they scale.
const ValueOption valueOptions[] = {
    {"address", "N", "Doser address on the line, 0 to 127 (30).", "set address"},
    {"decimals", "N", "Digits after the point of all weights, 0 to 6 (1).", "set decimals"},
    {"max-dose", "W", "Maximum dose weight (500.0).", "set max-dose"},
    {"unit", "U", "Weight unit: g, kg or t (kg).", "set unit"},
    {"firmware", "X", "Software version, for example 4.15 (4.15).", "set firmware"},
    {"plus", "W", "Plus tolerance (0.5).", "set plus"},
    {"minus", "W", "Minus tolerance (0.5).", "set minus"},
    {"dose", "W", "Dose weight for commands 15 and 22 (10.0).", "set dose"},
    {"net", "W", "Weight in the hopper at start (0).", "set net"},
    {"fill-time", "MS", "Time one fill takes (2000).", "set fill-time"},
    {"discharge-time", "MS", "Time the discharge of a full cycle takes (500).", "set discharge-time"},
    {"noise", "W", "A fill lands within this much of the weight asked for (0).", "set noise"},
    {"seed", "N", "Seed of the fill noise (1).", "set seed"},
    {"shift-doses", "N", "Shift dose counter at start (0).", "set shift-doses"},
    {"shift-weight", "RAW", "Shift weight counter at start, units of the last decimal place (0).", "set shift-weight"},
    {"lifetime-doses", "N", "Lifetime dose counter at start (0).", "set lifetime-doses"},
    {"lifetime-weight", "RAW", "Lifetime weight counter at start, units of the last decimal place (0).",
        "set lifetime-weight"},
    {"delay", "MS", "Answer every request this late (0: within 1 ms).", "delay"},
    {"bad-crc", "N", "Wrong check byte in the first N replies.", "badcrc"},
    {"wrong-address", "N", "The first N replies come from the next address.", "wrongaddress"},
    {"partial", "N", "The first N replies stop after 6 bytes.", "partial"},
    {"error", "CODE", "Start in fault with this error number (until reset-error).", "error"},
};

const char *const controlHelp = R"(
The doser
  Answers every valid 12-byte request addressed to it with one 12-byte reply, within 1 ms unless
  --delay or a fault says otherwise: its address, the request's command and parameter, its state bits
  (0x80 fault, 0x02 working, 0x10 stopped with an empty hopper, 0x00 stopped with a loaded hopper),
  its error number and the value. Frames for other addresses and invalid frames get no reply.
    0      net weight in the hopper          3      software version
    4      reset error: leaves the fault state
    8      set dose weight                   10/11  plus tolerance (11 sets it)
    12/13  minus tolerance (13 sets it)
    14     fill the weight sent: takes --fill-time and lands on it within --noise; with a hopper that
           is not empty the doser goes to fault with error 9 instead
    15     fill the set dose                 17     continue a stopped fill
    20     discharge: empties the hopper; value = what it held
    22     full cycle: fill the set dose, weigh, discharge (--discharge-time)
    24/0   last fill weight                  24/16  shift doses
    24/18  shift weight, raw                 24/19  lifetime doses, raw
    24/20  lifetime weight, raw (units of the last decimal place)
           A dose counts into the shift and lifetime counters the moment it has been weighed.
    26     stop (17 continues a stopped fill)
    39     test mode: value FF FF FF on, 0 off
    44/0   maximum dose    44/1 scale step; its decimals byte = --decimals    44/2, 44/3 unit code
           (0 g, 1 kg, 2 t)
  In fault the doser neither fills nor discharges, and every reply carries the fault bit and the
  error number until command 4 (or the control command "reset").

Control channel
  Standard input, one command per line ('#' starts a comment); each is answered on standard error
  with "CTL ok COMMAND" or "CTL error COMMAND: REASON". Counts N default to 1.
    silence on|off|N    no reply at all, until "silence off" or for the next N requests; the doser
                        does not carry out what it does not answer
    badcrc [N]          wrong check byte in the next N replies
    wrongaddress [N]    the next N replies come from the next address
    partial [N]         the next N replies stop after 6 bytes
    slow [N [MS]]       the next N replies come MS ms late (300: beyond the workstation's 150 ms);
                        the doser carries the request out at once ("late" and "hold" say the same)
    junk [N]            the next N replies follow 3 junk bytes (05 2A 55, no frame start), sent
                        together with the reply
    hangup MS           the doser carries out the next request, then hangs up without a reply as
                        "drop" does, and the line comes back MS ms later under the same link as
                        "reconnect" makes it; values and counters stay
    delay MS            every reply comes MS ms late (0: at once)
    error CODE          fault bit with this error number until reset-error (command 4)
    reset               leave the fault state, as command 4 does
    at N KIND FAULT [MS] [from KIND2]
                        aims FAULT at the N-th request of KIND, counted from now (from the start for
                        --at), or with "from" from the first request of KIND2 on (that one
                        included); it fires once, on that request, with an FLT line
                        "aimed N KIND FAULT [MS]: cmd C/P, ...". Several aims may wait at once.
                        KIND: any, a command (20), command/parameter (24/20), or one of
                          netweight 0, version 3, reset 4, setdose 8, fill 14, fillset 15,
                          continue 17, discharge 20, cycle 22, counter 24 (any parameter),
                          lastfill 24/0, shift-doses 24/16, shift-weight 24/18,
                          lifetime-doses 24/19, lifetime-weight 24/20, stop 26, testmode 39,
                          service 44
                        FAULT: silence, badcrc, wrongaddress, partial, junk as above;
                          slow|late|hold [MS]  carried out, the reply MS ms late (300)
                          hangup MS            carried out, no reply, the line down for MS ms
                          mark                 nothing done to the reply; the FLT line comes as
                                               the request arrives, before the doser acts
    clear               forget every pending line fault, aim and the delay
    drop                close the line as a pulled cable would; the link is removed
    reconnect           a new pseudo-terminal under the same link
    set NAME VALUE      address, decimals, max-dose, unit, firmware, plus, minus, dose, net,
                        fill-time, discharge-time, noise, seed, shift-doses, shift-weight,
                        lifetime-doses, lifetime-weight (raw counters), test-mode on|off
    status              one line with every value, every pending fault and every pending aim
    totals              one line: discharges of a loaded hopper since start and their weight in
                        the doser's unit and decimals, and the lifetime counters
    quit                end, removing the link
  Without a control channel (--no-control, or standard input at its end) the simulator runs on,
  unless --exit-on-eof says to end at the end of standard input.

Log
  One line per event on standard error: time, tag, then bytes and meaning.
    10:15:02.113 REQ 9E 00 00 00 00 00 00 00 00 00 00 4B  doser 30, cmd 0/0: net weight?
    10:15:02.113 REP 80 1E 00 00 10 00 00 00 00 01 00 6F  doser 30, cmd 0/0: stopped, hopper empty; 0.0
  SIM start, link and end ("SIM ready ports/NAME -> /dev/pts/N, doser A" once the link is there);
  REQ a request for this doser; REP the reply as sent; IGN bytes or frames that get no reply, and why;
  FLT a fault played ("aimed N KIND FAULT ..." for an aimed one); EVT what the doser did;
  CTL the answer to a control command.

Exit status: 0 after a normal end, 1 when the line cannot be made (another simulator serves the
link, or ports/NAME is not a link), 2 for wrong options.
)";

QCommandLineParser &describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Plays one D415 doser controller on a pseudo-terminal, for commissioning a workstation without its\n"
        "doser and for the workstation's tests. The terminal is linked as ports/NAME in the working\n"
        "directory, where the workstation lists its ports: start the simulator first, in the workstation's\n"
        "working directory. The link is removed when the simulator ends (Ctrl+C, SIGTERM, SIGHUP, \"quit\")."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({{QStringLiteral("n"), QStringLiteral("name")},
        QStringLiteral("Name of the link in ports/ (d415)."), QStringLiteral("NAME"), QStringLiteral("d415")});
    for (const ValueOption &option : valueOptions)
        parser.addOption({QString::fromLatin1(option.name), QString::fromUtf8(option.description),
            QString::fromLatin1(option.valueName)});
    parser.addOption(
        {QStringLiteral("slow"), QStringLiteral("The first N replies come --slow-ms late."), QStringLiteral("N")});
    parser.addOption({QStringLiteral("slow-ms"), QStringLiteral("Lateness of slow replies (300)."),
        QStringLiteral("MS"), QStringLiteral("300")});
    parser.addOption({QStringLiteral("at"),
        QStringLiteral("Aims a fault at one request, counted from the start: AIM is \"N KIND FAULT [MS] [from "
                       "KIND]\" as for the control command \"at\"; repeatable."),
        QStringLiteral("AIM")});
    parser.addOption({QStringLiteral("silence"), QStringLiteral("Answer nothing until \"silence off\".")});
    parser.addOption({QStringLiteral("test-mode"), QStringLiteral("Start in test mode.")});
    parser.addOption(
        {QStringLiteral("no-control"), QStringLiteral("Do not read control commands from standard input.")});
    parser.addOption({QStringLiteral("exit-on-eof"),
        QStringLiteral("End when standard input ends (a test harness: the simulator ends with the "
                       "program that started it).")});
    return parser;
}

bool plainName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".")
        && name != QLatin1String("..") && !name.endsWith(QLatin1String(".new"));
}

} // namespace

bool SimOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments)) {
        m_error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        m_helpRequested = true;
        return true;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        m_versionRequested = true;
        return true;
    }
    if (!parser.positionalArguments().isEmpty()) {
        m_error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return false;
    }
    m_linkName = parser.value(QStringLiteral("name"));
    if (!plainName(m_linkName)) {
        m_error = QStringLiteral("the link name must be a plain file name, not \"%1\"").arg(m_linkName);
        return false;
    }
    for (const ValueOption &option : valueOptions) {
        const QString name = QString::fromLatin1(option.name);
        if (parser.isSet(name))
            m_startCommands << QString::fromLatin1(option.command) + QLatin1Char(' ') + parser.value(name);
    }
    if (parser.isSet(QStringLiteral("slow")))
        m_startCommands << QStringLiteral("slow %1 %2")
                               .arg(parser.value(QStringLiteral("slow")), parser.value(QStringLiteral("slow-ms")));
    if (parser.isSet(QStringLiteral("silence")))
        m_startCommands << QStringLiteral("silence on");
    for (const QString &aim : parser.values(QStringLiteral("at")))
        m_startCommands << QStringLiteral("at ") + aim;
    if (parser.isSet(QStringLiteral("test-mode")))
        m_startCommands << QStringLiteral("set test-mode on");
    m_controlFromStdin = !parser.isSet(QStringLiteral("no-control"));
    m_exitOnEndOfInput = parser.isSet(QStringLiteral("exit-on-eof"));
    if (m_exitOnEndOfInput && !m_controlFromStdin) {
        m_error = QStringLiteral("--exit-on-eof needs the control channel; drop --no-control");
        return false;
    }
    return true;
}

QString SimOptions::helpText()
{
    QCommandLineParser parser;
    return describe(parser).helpText() + QString::fromUtf8(controlHelp);
}
