#include "platform/Messages.h"

#include <QMutex>
#include <QSet>
#include <cstdio>

namespace {
MessageHandler& handler() {
    static MessageHandler h;
    return h;
}

void show(MessageKind kind, const QString& text) {
    if (handler()) {
        handler()(kind, text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}
} // namespace

void SetMessageHandler(MessageHandler h) {
    handler() = std::move(h);
}
void ShowMessage(const QString& text) {
    show(MessageKind::Plain, text);
}
void ShowInformation(const QString& text) {
    show(MessageKind::Information, text);
}
void ShowError(const QString& text) {
    show(MessageKind::Error, text);
}
void ShowErrorOnce(const QString& text) {
    static QMutex mutex;
    static QSet<QString> shown;
    {
        const QMutexLocker lock(&mutex);
        if (shown.contains(text))
            return;
        shown.insert(text);
    }
    show(MessageKind::Error, text);
}

namespace {
QuestionHandler& questionHandler() {
    static QuestionHandler h;
    return h;
}
} // namespace

void SetQuestionHandler(QuestionHandler h) {
    questionHandler() = std::move(h);
}

Answer AskQuestion(const QString& text, QuestionButtons buttons) {
    if (questionHandler())
        return questionHandler()(buttons, text);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    return buttons == QuestionButtons::YesNoCancel ? Answer::Cancel : Answer::No;
}
