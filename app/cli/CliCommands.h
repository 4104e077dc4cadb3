#pragma once

#include "app/cli/CliOptions.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>

// Exit codes of the command-line tool.
enum CliExit { CliOk = 0, CliFailed = 1, CliUsage = 2 };

// What a command handler gets: its arguments (the words after the command name that are not
// options), its parsed options and the two streams.
struct CliContext {
    QStringList args;
    const CliOptions& options;
    QTextStream& out;
    QTextStream& err;
};

// One command of captiomark-cli. New commands are added to the table in CliCommands.cpp.
struct CliCommand {
    QString name;
    QString usage;   // argument synopsis after the command name, e.g. "FILE"
    QString summary; // one line for the program's help
    QString help;    // the command's own --help text (after its usage line)
    std::function<int(CliContext&)> handler;
    // Writes images: refused while a setting cannot be read (the JPEG quality among them).
    bool writesImages;
    // The options it takes; any other word starting with "--" is a wrong command line.
    QList<QCommandLineOption> options;
};

// A wrong command line: the handler's message, then the command's usage line; exit code 2.
class CliUsageError {
public:
    explicit CliUsageError(QString message) : m_message(std::move(message)) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

const QList<CliCommand>& CliCommands();

// Runs one command line (arguments without the program name); returns the exit code.
int RunCli(const QStringList& args, QTextStream& out, QTextStream& err);
