#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>
#include <QVariant>

namespace velmora {

// The page's value converters, offered to the markup as one singleton under the names the markup looks
// them up by. Each takes the bound value and an optional parameter and is one-way.
//
// Qt Quick has no Visibility type: an item is shown through its boolean `visible`, so the two visibility
// converters answer true for Visible and false for Collapsed.
//
// A value of the wrong kind is a binding error: called from QML, the converter raises a TypeError in the
// binding (the engine reports it with the markup's file and line, and the bound property keeps its value);
// called from C++, it throws platform::PlatformError with E_NOINTERFACE. A missing resource string raises
// the same way after ResourceHelper has reported it.
class Converters : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit Converters(QObject* parent = nullptr) : QObject(parent) {}

    // true -> Collapsed (false); false -> Visible (true).
    static bool BoolToNotVisibility(const QVariant& value);
    // A boolean's negation.
    static bool BoolInverseBool(const QVariant& value);
    // A non-empty string -> Visible (true); an empty one -> Collapsed (false).
    static bool NullToVisibility(const QVariant& value);
    // The resource string keyed by `value` when that is a non-empty string, else the one keyed by
    // `parameter`.
    static QString ResourceString(const QVariant& value, const QVariant& parameter);

    Q_INVOKABLE QVariant BoolToNotVisibilityConverter(const QVariant& value,
                                                      const QVariant& parameter = {}) const;
    Q_INVOKABLE QVariant BoolInverseBoolConverter(const QVariant& value,
                                                  const QVariant& parameter = {}) const;
    Q_INVOKABLE QVariant NullToVisibilityConverter(const QVariant& value,
                                                   const QVariant& parameter = {}) const;
    Q_INVOKABLE QVariant ResourceStringConverter(const QVariant& value, const QVariant& parameter = {}) const;

private:
    template <typename Convert>
    QVariant ConvertForMarkup(const char* name, Convert convert) const;
};

}  // namespace velmora
