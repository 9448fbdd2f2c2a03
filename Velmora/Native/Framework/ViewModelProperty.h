#pragma once

#include <QColor>
#include <memory>
#include <type_traits>
#include <utility>

#include "Velmora/Native/Framework/ViewModelBase.h"

// One line per property of a view model (a framework::ViewModelBase): each macro declares the Q_PROPERTY,
// the getter, the change-checking setter (store, then queue the NOTIFY signal on the UI thread), the
// `<Name>Changed` signal and the field `<Name>_`. The setter names the signal by member pointer, so a
// misspelt name fails to compile. moc expands these macros (it preprocesses the class body with the
// headers it includes), so the properties reach the meta-object like hand-written ones.
//
// Each macro leaves the class in its private section: write the members that follow under an access
// specifier of their own.

// The setter's signal, named from inside the class the macro is used in.
#define VIEW_MODEL_SIGNAL_(Name) &std::remove_pointer_t<decltype(this)>::Name##Changed

#define VIEW_MODEL_FIELD_(Type, Name, ...) \
Q_SIGNALS:                                 \
    void Name##Changed();                  \
                                           \
private:                                   \
    Type Name##_{__VA_ARGS__};

// The getter, the change-checking setter and the field of a value property.
#define VIEW_MODEL_VALUE_(Type, Name, ...)                                       \
public:                                                                          \
    Type Name() const {                                                          \
        return Name##_;                                                          \
    }                                                                            \
    bool Set##Name(Type value) {                                                 \
        return SetProperty(Name##_, std::move(value), VIEW_MODEL_SIGNAL_(Name)); \
    }                                                                            \
    VIEW_MODEL_FIELD_(Type, Name, __VA_ARGS__)

// A value the page reads and writes, e.g. VIEW_MODEL_PROPERTY(bool, IsPlaying, false).
#define VIEW_MODEL_PROPERTY(Type, Name, ...)                             \
    Q_PROPERTY(Type Name READ Name WRITE Set##Name NOTIFY Name##Changed) \
    VIEW_MODEL_VALUE_(Type, Name, __VA_ARGS__)

// A value the page only reads; the view model sets it through Set<Name>.
#define VIEW_MODEL_READONLY_PROPERTY(Type, Name, ...)    \
    Q_PROPERTY(Type Name READ Name NOTIFY Name##Changed) \
    VIEW_MODEL_VALUE_(Type, Name, __VA_ARGS__)

// A value the page reads and writes whose setter does more than store: the class declares
// `void Set<Name>(Type)` itself and stores through the private Store<Name>, which returns whether the
// value changed.
#define VIEW_MODEL_PROPERTY_WITH_SETTER(Type, Name, ...)                         \
    Q_PROPERTY(Type Name READ Name WRITE Set##Name NOTIFY Name##Changed)         \
public:                                                                          \
    Type Name() const {                                                          \
        return Name##_;                                                          \
    }                                                                            \
                                                                                 \
private:                                                                         \
    bool Store##Name(Type value) {                                               \
        return SetProperty(Name##_, std::move(value), VIEW_MODEL_SIGNAL_(Name)); \
    }                                                                            \
    VIEW_MODEL_FIELD_(Type, Name, __VA_ARGS__)

// An object the view model shares (a collection, a cover, another view model), compared by identity. The
// page reads it as a pointer; the previous object outlives the notification that lets go of it. Type is
// written with its namespace, as moc needs it.
#define VIEW_MODEL_OBJECT_PROPERTY(Type, Name)                                   \
    Q_PROPERTY(Type* Name READ Name##Object NOTIFY Name##Changed)                \
public:                                                                          \
    const std::shared_ptr<Type>& Name() const {                                  \
        return Name##_;                                                          \
    }                                                                            \
    Type* Name##Object() const {                                                 \
        return Name##_.get();                                                    \
    }                                                                            \
    bool Set##Name(std::shared_ptr<Type> value) {                                \
        return SetProperty(Name##_, std::move(value), VIEW_MODEL_SIGNAL_(Name)); \
    }                                                                            \
    VIEW_MODEL_FIELD_(std::shared_ptr<Type>, Name, )

// A brush: one of the shared colours, compared by identity. No colour (an invalid QColor) before the
// first one is set.
#define VIEW_MODEL_BRUSH_PROPERTY(Name)                                          \
    Q_PROPERTY(QColor Name READ Name NOTIFY Name##Changed)                       \
public:                                                                          \
    QColor Name() const {                                                        \
        return Name##_ ? *Name##_ : QColor();                                    \
    }                                                                            \
    bool Set##Name(std::shared_ptr<const QColor> value) {                        \
        return SetProperty(Name##_, std::move(value), VIEW_MODEL_SIGNAL_(Name)); \
    }                                                                            \
    VIEW_MODEL_FIELD_(std::shared_ptr<const QColor>, Name, )
