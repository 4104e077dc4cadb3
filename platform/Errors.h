#pragma once

#include <QString>
#include <exception>

// Failures travel as exceptions carrying the fixed English message that the user is shown.
class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A text that is not a valid number, date or time.
// A control that cannot take part in a selection (a top-level window).
class EBadChild : public Exception {
    using Exception::Exception;
};

class EConvertError : public Exception {
    using Exception::Exception;
};

// A file that cannot be opened for reading.
class EFOpenError : public Exception {
    using Exception::Exception;
};

// A file that cannot be created or written.
class EFCreateError : public Exception {
    using Exception::Exception;
};

// Not enough memory for an image operation ("Not enough memory for a 200000 × 133333 image.").
class EOutOfMemory : public Exception {
    using Exception::Exception;
};
