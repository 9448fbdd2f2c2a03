#include "tests/Velmora/Native/WidgetFixture.h"

#include "Velmora/Native/Framework/ResourceHelper.h"
#include "tests/support/TestHelpers.h"

namespace testsupport {

using platform::Value;
using platform::ValueSet;

ValueSet PlaybackMessage::ToValueSet() const {
    ValueSet restrictions = NoRestrictions();
    for (const auto& key : disallowed) restrictions.Insert(key, Value(true));
    ValueSet state{{"type", Value("track")},
                   {"timestamp", Value(timestamp)},
                   {"is_active", Value(active)},
                   {"is_paused", Value(paused)},
                   {"shuffle", Value(shuffle)},
                   {"repeat", Value(repeat)},
                   {"restrictions", Value(restrictions)}};
    if (uri) {
        state.Insert("track", Value(ValueSet{{"uri", Value(*uri)},
                                             {"name", Value(name)},
                                             {"artist", Value(artist)},
                                             {"album", Value(album)},
                                             {"image", Value(image)},
                                             {"is_advertisement", Value(advertisement)},
                                             {"is_in_collection", Value(inLibrary)},
                                             {"can_add_to_collection", Value(canAdd)}}));
    }
    if (context) state.Insert("context", Value(ValueSet{{"uri", Value(*context)}}));
    if (position) state.Insert("position_as_of_timestamp", Value(*position));
    if (duration) state.Insert("duration", Value(*duration));
    if (speed) state.Insert("playback_speed", Value(*speed));
    if (volume) state.Insert("volume_percentage", Value(*volume));
    return state;
}

ValueSet Cluster(const std::vector<Device>& devices) {
    ValueSet list{{"_count", Value(static_cast<int32_t>(devices.size()))}};
    for (size_t i = 0; i < devices.size(); ++i) {
        list.Insert(std::to_string(i),
                    Value(ValueSet{{"device_id", Value(devices[i].id)},
                                   {"name", Value(devices[i].name.empty() ? "Device " + devices[i].id
                                                                          : devices[i].name)},
                                   {"device_type", Value(devices[i].type)},
                                   {"volume", Value(int32_t{50})},
                                   {"is_active", Value(devices[i].active)},
                                   {"is_local", Value(devices[i].self)},
                                   {"is_self", Value(devices[i].self)}}));
    }
    return ValueSet{{"active_device_id", Value("")}, {"devices", Value(list)}};
}

QString Text(const std::string& key) {
    return QString::fromStdString("[" + key + "]");
}

void UseTestStrings() {
    std::map<std::string, std::string, std::less<>> table;
    for (const char* key : kViewModelStringKeys) {
        table.emplace(key, Text(key).toStdString());
    }
    framework::ResourceHelper::UseTable(std::move(table));
}

WidgetFixture::WidgetFixture() {
    UseTestStrings();
    controller = utils::DesktopAPIController::Create(std::make_unique<FakeDesktopConnection>(script),
                                                     utils::WidgetMode::Native);
    vm = velmora::CorvanaWidgetViewModel::Create(controller, tokens, Services());
    log = std::make_unique<NotificationLog>(vm.get(), ui);
}

velmora::CorvanaWidgetViewModel::Services WidgetFixture::Services() {
    velmora::CorvanaWidgetViewModel::Services services;
    services.fetchHomeFeed = [this](std::string token) {
        feedTokens.push_back(token);
        platform::TaskCompletionSource<utils::corvana_client::HomeFeedResult> fetched;
        if (refusedTokens.contains(token)) {
            fetched.TrySetResult({{}, "the web API answered 401", 401});
        } else {
            fetched.TrySetResult({feed, std::nullopt, 200});
        }
        return fetched.GetTask();
    };
    services.settings = &settings;
    services.progressInterval = std::chrono::milliseconds(1);
    return services;
}

WidgetFixture::~WidgetFixture() {
    log.reset();
    vm.reset();
    Pump();
}

void WidgetFixture::Push(const PlaybackMessage& message) {
    script->Push("playback_state_subscription", message.ToValueSet());
}

void WidgetFixture::PushDevices(const std::vector<Device>& devices) {
    script->Answer("connect_cluster", {false, Cluster(devices)});
    controller->RequestDevices();
}

void WidgetFixture::RegisterAndSignIn() {
    vm->RegisterForWidgetEvents(widget);
    vm->SetSignedIn(true);
    ASSERT_TRUE(ui->RunUntil([&] { return vm->Categories() != nullptr; }));
    Pump();
}

ValueSet WidgetFixture::LastParams(const std::string& method) {
    auto requests = script->Requests();
    for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
        if (it->method == method) return it->params;
    }
    ADD_FAILURE() << "no " << method << " request";
    return {};
}

}  // namespace testsupport
