#pragma once

#include <QString>
#include <functional>

// The three kinds of message box. The GUI installs a handler that shows real boxes;
// headless programs print to stderr (the default).
enum class MessageKind { Plain, Information, Error };

using MessageHandler = std::function<void(MessageKind, const QString&)>;

void SetMessageHandler(MessageHandler handler);
void ShowMessage(const QString& text);
void ShowInformation(const QString& text);
void ShowError(const QString& text);
// ShowError, but each text only the first time in the process: a settings file that is refused
// at start-up is not reported again at every later use.
void ShowErrorOnce(const QString& text);

// Questions: the buttons offered and the one chosen. Without a handler (headless) the answer is
// the most cautious one offered: Cancel, else No.
enum class QuestionButtons { YesNo, YesNoCancel };
enum class Answer { Yes, No, Cancel };

using QuestionHandler = std::function<Answer(QuestionButtons, const QString&)>;

void SetQuestionHandler(QuestionHandler handler);
Answer AskQuestion(const QString& text, QuestionButtons buttons);
