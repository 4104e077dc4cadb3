#include "platform/Conversions.h"

#include "platform/Errors.h"

int StrToInt(const QString& text, IntSyntax syntax) {
    const QString t = text.trimmed();
    bool ok = false;
    int v = 0;
    if (syntax == IntSyntax::Field) {
        v = t.toInt(&ok, 10);
    } else if (t.startsWith(QLatin1Char('$')) && t.size() > 1) {
        v = int(t.mid(1).toUInt(&ok, 16));
    } else if (!t.isEmpty() && t.front() != QLatin1Char('+') && !t.contains(QLatin1Char(' '))) {
        v = t.toInt(&ok, 10);
    }
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return v;
}
