#pragma once

#include <QtQml/qqmlregistration.h>
#include <QAbstractListModel>
#include <memory>
#include <vector>

#include "Velmora/Native/Framework/ViewModelBase.h"

namespace velmora {

// An ordered collection of view models that QML views follow row by row: each change is reported as the
// rows it inserts or removes. A delegate reaches its view model as `modelData`. Used on the UI thread only.
class ObservableVector : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the view model that owns it.")
    Q_PROPERTY(int count READ Count NOTIFY countChanged)

public:
    static std::shared_ptr<ObservableVector> Create() { return std::make_shared<ObservableVector>(); }
    ObservableVector();

    void Append(std::shared_ptr<framework::ViewModelBase> item);
    void Clear();

    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    const std::vector<std::shared_ptr<framework::ViewModelBase>>& Items() const { return items_; }
    // The item at `index` as the type the owner put in; null for another type.
    template <typename T>
    std::shared_ptr<T> At(size_t index) const {
        return std::dynamic_pointer_cast<T>(items_.at(index));
    }

    // The row of `item`, or -1 when it is not in the collection.
    Q_INVOKABLE int indexOf(QObject* item) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void countChanged();

private:
    std::vector<std::shared_ptr<framework::ViewModelBase>> items_;
};

}  // namespace velmora
