#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Foundation/Task.h"
#include "Platform/Foundation/ValueSet.h"
#include "Platform/Threading/CoreDispatcher.h"

namespace platform {

enum class AppServiceNameState : int32_t {
    Owned = 0,   // this process serves the name now
    Queued = 1,  // another owner has it; the bus hands it over when that owner lets it go
    Failed = 2,  // no bus, or the bus refused
};

// The service's end of the app-service channels of AppServiceConnection: it owns the well-known name N,
// exports N + ".AppService" at N's path (Open, SendMessage) and pushes messages to each client's
// N + ".Client" object.
//
// The name is requested with replacement allowed and queueing: an owner that has the name keeps it (this
// host waits in the bus's queue and gets the name when that owner lets it go), and an owner that asks to
// replace it takes it (this host loses its channels then, which their clients see as ServiceClosed, and
// goes back into the queue).
//
// Every handler runs on the dispatcher given at construction, one at a time and in the order the bus
// delivered the events; none runs after the host is destroyed. A request holds no channel of its own: it
// comes from a client connection (its unique name), which may have opened several channels.
class AppServiceHost {
public:
    struct Handlers {
        // A client opened a channel; its Open has been answered.
        std::function<void(uint64_t channel, const std::string& client)> opened;
        // The channel is gone: its client left the bus or stopped answering, or the name was lost.
        std::function<void(uint64_t channel)> closed;
        // One message of a client that has a channel open; the task's value set is the reply.
        std::function<Task<ValueSet>(const std::string& client, ValueSet message)> request;
        // The name was acquired (true) or lost (false).
        std::function<void(bool owned)> ownershipChanged;
        // The session bus went away (the daemon ended): nothing more will come.
        std::function<void()> busLost;
    };

    // The channels one client connection may hold open; opening another closes its oldest.
    static constexpr size_t kMaxChannelsPerClient = 16;

    AppServiceHost(std::string serviceName, std::shared_ptr<CoreDispatcher> dispatcher, Handlers handlers);
    // Releases the name and drops every channel.
    ~AppServiceHost();
    AppServiceHost(const AppServiceHost&) = delete;
    AppServiceHost& operator=(const AppServiceHost&) = delete;

    // Exports the object, then asks for the name.
    Task<AppServiceNameState> StartAsync();
    // Pushes one message to a channel's client; false when the client refused it, did not answer in time
    // or the channel is gone or closes before the answer. A channel's pushes reach its client in the
    // order they were made; past a few awaiting replies (of the channel, or of every channel together),
    // the others wait their turn, the channels' in turn, so that a burst is never refused by the bus and a
    // client that stops answering holds up only its own pushes.
    Task<bool> PushAsync(uint64_t channel, ValueSet message);

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform
