#include "tests/support/PrivateBus.h"

#include <libsecret/secret.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Security/PasswordVault.h"
#include "tests/support/TempDir.h"

namespace testsupport {

// No service directories unless asked for: nothing is started on demand, so a test decides exactly which
// services exist (a bus with the desktop's gnome-keyring activatable would never show "no Secret Service").
std::string SessionBusConfig(const std::string& serviceDir) {
    std::string services = serviceDir.empty() ? "" : "  <servicedir>" + serviceDir + "</servicedir>\n";
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
)" + services +
           R"(  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
}

void PrivateBusEnvironment::SetUp() {
    home_ = std::make_unique<TempDir>();
    WriteFile(*home_ / "bus.conf", SessionBusConfig());
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--config-file=" + (*home_ / "bus.conf"), "--nofork",
                                 "--nopidfile", "--print-address=1"});
    std::string address = daemon_->WaitForLine("unix:");
    if (address.empty()) throw std::runtime_error("dbus-daemon did not start");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    // Everything per-user (keyrings, settings, logs) lands in a folder of this test process.
    ::setenv("HOME", home_->path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (*home_ / "data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (*home_ / "cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", home_->path().c_str(), 1);
}

void KeyringEnvironment::SetUp() {
    keyring_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"sh", "-c",
                                 "printf %s velmora-test-password | exec gnome-keyring-daemon --foreground "
                                 "--unlock --components=secrets"});
    // Ready once a lookup is answered "not found" rather than failing for want of a service.
    platform::PasswordVault::SetCallTimeout(std::chrono::seconds(2));
    for (int attempt = 0; attempt < 200; ++attempt) {
        try {
            platform::PasswordVault().Retrieve("velmora-test", "probe");
        } catch (const platform::PlatformError& error) {
            if (error.code() == platform::E_NOTFOUND) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("gnome-keyring did not come up on the private bus");
}

void LockDefaultKeyring() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    SecretCollection* collection =
        service ? secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                                   nullptr, &error)
                : nullptr;
    GList* objects = collection ? g_list_append(nullptr, collection) : nullptr;
    const int locked = objects ? secret_service_lock_sync(service, objects, nullptr, nullptr, &error) : 0;
    std::string message = error ? error->message : "";
    g_clear_error(&error);
    g_list_free(objects);
    if (collection) g_object_unref(collection);
    if (service) g_object_unref(service);
    if (locked != 1) throw std::runtime_error("cannot lock the default keyring: " + message);
}

}  // namespace testsupport
