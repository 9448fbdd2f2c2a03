#include "Velmora/Native/Converters.h"

#include <QJSEngine>
#include <QQmlEngine>
#include <exception>
#include <string>

#include "Platform/Foundation/PlatformError.h"
#include "Velmora/Native/Framework/ResourceHelper.h"

namespace velmora {

namespace {

[[noreturn]] void WrongKind(const char* expected, const QVariant& value) {
    const char* actual = value.isValid() ? value.typeName() : "nothing";
    throw platform::PlatformError(platform::E_NOINTERFACE,
                                  std::string("expected ") + expected + ", got " + (actual ? actual : "?"));
}

bool AsBoolean(const QVariant& value) {
    if (value.typeId() != QMetaType::Bool) WrongKind("a boolean", value);
    return value.toBool();
}

QString AsString(const QVariant& value) {
    if (value.typeId() != QMetaType::QString) WrongKind("a string", value);
    return value.toString();
}

}  // namespace

bool Converters::BoolToNotVisibility(const QVariant& value) {
    return !AsBoolean(value);
}

bool Converters::BoolInverseBool(const QVariant& value) {
    return !AsBoolean(value);
}

bool Converters::NullToVisibility(const QVariant& value) {
    return !AsString(value).isEmpty();
}

QString Converters::ResourceString(const QVariant& value, const QVariant& parameter) {
    if (value.typeId() == QMetaType::QString && !value.toString().isEmpty())
        return framework::ResourceHelper::GetString(value.toString().toStdString());
    return framework::ResourceHelper::GetString(AsString(parameter).toStdString());
}

template <typename Convert>
QVariant Converters::ConvertForMarkup(const char* name, Convert convert) const {
    std::string message;
    try {
        return QVariant(convert());
    } catch (const platform::PlatformError& error) {
        message = error.message();
    } catch (const std::exception& error) {
        message = error.what();
    }
    QJSEngine* engine = qjsEngine(this);
    if (!engine) throw platform::PlatformError(platform::E_FAIL, std::string(name) + ": " + message);
    // The binding that called fails with this error and keeps its previous value.
    engine->throwError(QJSValue::TypeError,
                       QString::fromLatin1(name) + ": " + QString::fromStdString(message));
    return {};
}

QVariant Converters::BoolToNotVisibilityConverter(const QVariant& value, const QVariant&) const {
    return ConvertForMarkup("BoolToNotVisibilityConverter", [&] { return BoolToNotVisibility(value); });
}

QVariant Converters::BoolInverseBoolConverter(const QVariant& value, const QVariant&) const {
    return ConvertForMarkup("BoolInverseBoolConverter", [&] { return BoolInverseBool(value); });
}

QVariant Converters::NullToVisibilityConverter(const QVariant& value, const QVariant&) const {
    return ConvertForMarkup("NullToVisibilityConverter", [&] { return NullToVisibility(value); });
}

QVariant Converters::ResourceStringConverter(const QVariant& value, const QVariant& parameter) const {
    return ConvertForMarkup("ResourceStringConverter", [&] { return ResourceString(value, parameter); });
}

}  // namespace velmora
