#include "VelmoraUtils/IDesktopAPIConnection.h"

namespace utils {

using platform::Value;
using platform::ValueSet;

ValueSet BuildRequest(const std::string& method, const IDesktopAPIConnection::Params& params) {
    ValueSet parameters;
    for (const auto& [key, value] : params) parameters.Insert(key, value);
    ValueSet envelope;
    envelope.Insert("method", Value(method));
    envelope.Insert("params", Value(std::move(parameters)));
    envelope.Insert("id", Value("1"));
    return envelope;
}

IDesktopAPIConnection::Response ReadResponse(const ValueSet& reply) {
    IDesktopAPIConnection::Response response;
    if (reply.HasKey("error")) {
        response.is_error = true;
        response.data = reply.Lookup("error").AsValueSet();
    } else if (reply.HasKey("result")) {
        response.data = reply.Lookup("result").AsValueSet();
    }
    return response;
}

IDesktopAPIConnection::Notification ReadNotification(const ValueSet& message) {
    IDesktopAPIConnection::Notification notification;
    notification.method = message.Lookup("method").AsString();
    if (message.HasKey("params")) notification.params = message.Lookup("params").AsValueSet();
    return notification;
}

}  // namespace utils
