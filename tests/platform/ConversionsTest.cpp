#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "platform/FilePaths.h"

#include <gtest/gtest.h>

namespace {

QString conversionError(const QString& text, IntSyntax syntax) {
    try {
        StrToInt(text, syntax);
    } catch (const EConvertError& e) {
        return e.message();
    }
    return QStringLiteral("(no error)");
}

TEST(StrToInt, FieldTakesBlanksAndSigns) {
    EXPECT_EQ(StrToInt(QStringLiteral(" -90 ")), -90);
    EXPECT_EQ(StrToInt(QStringLiteral("+5")), 5);
    EXPECT_EQ(StrToInt(QStringLiteral("2147483647")), 2147483647);
    EXPECT_THROW(StrToInt(QString()), EConvertError);
    EXPECT_THROW(StrToInt(QStringLiteral("1.5")), EConvertError);
    EXPECT_THROW(StrToInt(QStringLiteral("2147483648")), EConvertError) << "beyond int";
    EXPECT_THROW(StrToInt(QStringLiteral("$1F")), EConvertError) << "no hexadecimal in a field";
}

TEST(StrToInt, StreamTakesHexadecimalButNoPlusOrInnerBlank) {
    EXPECT_EQ(StrToInt(QStringLiteral("$1F"), IntSyntax::Stream), 31);
    EXPECT_EQ(StrToInt(QStringLiteral("$FFFFFFFF"), IntSyntax::Stream), -1);
    EXPECT_EQ(StrToInt(QStringLiteral(" -7 "), IntSyntax::Stream), -7);
    for (const char* bad : {"+5", "- 5", "$", "", "12a"})
        EXPECT_THROW(StrToInt(QString::fromLatin1(bad), IntSyntax::Stream), EConvertError) << bad;
}

TEST(StrToInt, MessageQuotesTheTextAsGiven) {
    EXPECT_EQ(conversionError(QStringLiteral("12a"), IntSyntax::Field),
              QStringLiteral("'12a' is not a valid integer value"));
    EXPECT_EQ(conversionError(QStringLiteral(" x "), IntSyntax::Stream),
              QStringLiteral("' x ' is not a valid integer value"));
    EXPECT_EQ(conversionError(QString(), IntSyntax::Field),
              QStringLiteral("'' is not a valid integer value"));
}

TEST(FilePaths, FolderAndFileName) {
    EXPECT_EQ(FolderOf(QStringLiteral("/p/q/a.jpg")), QStringLiteral("/p/q/"));
    EXPECT_EQ(FileNameOf(QStringLiteral("/p/q/a.jpg")), QStringLiteral("a.jpg"));
    EXPECT_EQ(FolderOf(QStringLiteral("a.jpg")), QString());
    EXPECT_EQ(FileNameOf(QStringLiteral("a.jpg")), QStringLiteral("a.jpg"));
    EXPECT_EQ(FolderOf(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(FileNameOf(QStringLiteral("/p/")), QString());
}

} // namespace
