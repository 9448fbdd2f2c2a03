// The page's value converters, by their rules.
#include <gtest/gtest.h>

#include <QVariant>

#include "Platform/Foundation/PlatformError.h"
#include "Velmora/Native/Converters.h"
#include "Velmora/Native/Framework/ResourceHelper.h"
#include "tests/support/TestHelpers.h"

using velmora::Converters;

TEST(Converters, VisibilityAndInversionFollowTheirRules) {
    struct Case {
        const char* label;
        std::function<QVariant()> convert;
        QVariant expected;
    };
    const Case cases[] = {
        {"true is collapsed", [] { return QVariant(Converters::BoolToNotVisibility(true)); }, false},
        {"false is visible", [] { return QVariant(Converters::BoolToNotVisibility(false)); }, true},
        {"false inverts to true", [] { return QVariant(Converters::BoolInverseBool(false)); }, true},
        {"true inverts to false", [] { return QVariant(Converters::BoolInverseBool(true)); }, false},
        {"a text is visible", [] { return QVariant(Converters::NullToVisibility(QStringLiteral("x"))); },
         true},
        {"an empty text is collapsed", [] { return QVariant(Converters::NullToVisibility(QString())); },
         false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.convert(), c.expected) << c.label;
}

TEST(Converters, AValueOfTheWrongKindIsAnError) {
    struct Case {
        const char* label;
        std::function<void()> convert;
    };
    const Case cases[] = {
        {"a number for a visibility", [] { Converters::NullToVisibility(5); }},
        {"nothing for a visibility", [] { Converters::NullToVisibility(QVariant()); }},
        {"a text for a boolean", [] { Converters::BoolToNotVisibility(QStringLiteral("true")); }},
        {"a number to invert", [] { Converters::BoolInverseBool(1); }},
        {"no key at all", [] { Converters::ResourceString(QString(), 7); }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(testsupport::ErrorCodeOf(c.convert), platform::E_NOINTERFACE) << c.label;
}

TEST(Converters, AResourceStringComesFromTheValueOrElseTheParameter) {
    framework::ResourceHelper::UseTable({{"A_Text", "From A"}, {"CorvanaNext_ButtonNarratorText", "Next"}});
    EXPECT_EQ(Converters::ResourceString(QString(), QStringLiteral("CorvanaNext_ButtonNarratorText")),
              "Next");
    EXPECT_EQ(Converters::ResourceString(QStringLiteral("A_Text"),
                                         QStringLiteral("CorvanaNext_ButtonNarratorText")),
              "From A");
    // A value that is no text falls back to the parameter, as an empty one does.
    EXPECT_EQ(Converters::ResourceString(3, QStringLiteral("CorvanaNext_ButtonNarratorText")), "Next");
    EXPECT_EQ(testsupport::ErrorCodeOf(
                  [] { Converters::ResourceString(QStringLiteral("Missing_Text"), QString()); }),
              platform::E_POINTER);
    framework::ResourceHelper::UseTable({});
}
