#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A command's words read by QCommandLineParser. As the tool always did, only words starting with
// "--" are options, up to a lone "--"; a word with one dash is an argument (a negative number, a
// file named -x.jpg), and a value option takes the next word whatever it is ("--text --").
// A wrong command line throws CliUsageError: "unknown option '--x'", "--x needs a value".
class CliOptions {
public:
    explicit CliOptions(const QList<QCommandLineOption>& options);
    void parse(const QStringList& words);

    bool isSet(const QCommandLineOption& option) const { return m_parser.isSet(option); }
    // Every value given, in order (an option given twice has two).
    QStringList values(const QCommandLineOption& option) const;
    QStringList arguments() const;

private:
    QString unmask(const QString& word) const;

    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
    QStringList m_masked;
};

// The options render and batch share: the pattern file, the zoom ratio it was laid out at, and
// whether a JPEG keeps its compressed data outside the bricks.
struct PatternOptions {
    static QList<QCommandLineOption> options();
    // Reads them back; a zoom ratio outside (0, 1000] is a wrong command line.
    static PatternOptions read(const CliOptions& parsed);

    QString pattern; // empty when not given
    // Given: the zoom ratio the pattern's positions are taken at instead of the one it stores
    // (a file that stores none is taken at 1).
    std::optional<double> zoom;
    bool keepQuality = false; // --keep-quality given
    // --shift-time: seconds added to every date read from the photos (their files keep theirs).
    std::optional<qint64> shiftTime;
};
