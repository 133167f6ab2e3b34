#pragma once

#include <QCommandLineParser>
#include <QStringList>

class QCoreApplication;

namespace Marlet {

// marlet [--help] [--version] [FILE...]: --help and --version answer on standard output and
// end the program, and so does an option nobody knows, with the usage error.
class CommandLine
{
public:
    CommandLine();

    // Reads the arguments before the application object exists, so that a launch that finds
    // a player running can end before it reaches the display. False when they hold options
    // this parser does not know, which may be Qt's own ("-platform", "-style"): only the
    // application object takes those out, so read(app) then.
    bool readEarly(int argc, char* argv[]);
    void read(const QCoreApplication& app);

    // The files and folders named, as given.
    QStringList names() const { return m_parser.positionalArguments(); }

private:
    QCommandLineParser m_parser;
};

} // namespace Marlet
