#pragma once

#include <QNetworkAccessManager>
#include <QSslConfiguration>

namespace velmora {

// The network access the page's markup has, for cover images: HTTPS only, verified against the system's
// CA certificates plus the one VELMORA_CA_FILE names (the simulator's). A request for any other scheme
// fails without reaching the network.
class CoverNetworkAccessManager : public QNetworkAccessManager {
    Q_OBJECT

public:
    CoverNetworkAccessManager(QSslConfiguration tls, QObject* parent);

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* outgoingData) override;

private:
    const QSslConfiguration tls_;
};

}  // namespace velmora
