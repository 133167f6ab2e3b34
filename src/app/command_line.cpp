#include "command_line.h"

#include <QCoreApplication>

namespace Marlet {

CommandLine::CommandLine()
{
    m_parser.setApplicationDescription(
        QCoreApplication::translate("CommandLine", "Plays and records MP3, WAV and AMR files."));
    m_parser.addHelpOption();
    m_parser.addVersionOption();
    m_parser.addPositionalArgument(
        QStringLiteral("files"),
        QCoreApplication::translate(
            "CommandLine", "Files to add to the playlist, and folders whose MP3, WAV and AMR "
                           "files to add; the first of them plays. A player already running "
                           "takes them instead."),
        QStringLiteral("[files...]"));
}

bool CommandLine::readEarly(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // The full help lists Qt's own options, which only the application object knows.
    if (!m_parser.parse(arguments) || m_parser.isSet(QStringLiteral("help-all")))
        return false;
    if (m_parser.isSet(QStringLiteral("version")))
        m_parser.showVersion();
    if (m_parser.isSet(QStringLiteral("help"))) {
        // The usage line names the program as it was started, from the application object.
        int count = argc;
        const QCoreApplication app(count, argv);
        m_parser.showHelp();
    }
    return true;
}

void CommandLine::read(const QCoreApplication& app)
{
    m_parser.process(app);
}

} // namespace Marlet
