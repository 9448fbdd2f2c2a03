#include "Platform/Security/PasswordVault.h"

#include <libsecret/secret.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "Platform/Foundation/PlatformError.h"

namespace platform {

namespace {

std::atomic<int64_t> callTimeoutMs{5000};

const SecretSchema* Schema() {
    static const SecretSchema schema = {"org.velmora.Credential",
                                        SECRET_SCHEMA_NONE,
                                        {{"resource", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"username", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

// Cancels a libsecret call that has not finished within the time-out: a locked collection makes libsecret
// ask for a prompt, and without anyone to answer it the call would never return.
class Deadline {
public:
    Deadline() : cancellable_(g_cancellable_new()) {
        watcher_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            if (!done_.wait_for(lock, std::chrono::milliseconds(callTimeoutMs.load()),
                                [&] { return finished_; })) {
                g_cancellable_cancel(cancellable_);
            }
        });
    }
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
            done_.notify_all();
        }
        watcher_.join();
        g_object_unref(cancellable_);
    }
    GCancellable* cancellable() const { return cancellable_; }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread watcher_;
};

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ItemListFree {
    void operator()(GList* items) const { g_list_free_full(items, g_object_unref); }
};

[[noreturn]] void ThrowVaultError(GError* error, const char* what) {
    std::string message = std::string(what) + ": " + (error ? error->message : "unknown error");
    if (error) g_error_free(error);
    throw PlatformError(E_FAIL, message);
}

}  // namespace

void PasswordVault::SetCallTimeout(std::chrono::milliseconds timeout) {
    callTimeoutMs = timeout.count();
}

PasswordCredential PasswordVault::Retrieve(const std::string& resource, const std::string& userName) const {
    Deadline deadline;
    GError* error = nullptr;
    // Finding the item only in a locked collection, the lookup asks the Secret Service to unlock it first
    // (a desktop prompts the user) and answers "nothing" when it stays locked.
    gchar* password = secret_password_lookup_sync(Schema(), deadline.cancellable(), &error, "resource",
                                                  resource.c_str(), "username", userName.c_str(), nullptr);
    if (error) ThrowVaultError(error, "vault lookup failed");
    if (password) {
        PasswordCredential credential{resource, userName, password};
        secret_password_free(password);
        return credential;
    }
    // Nothing came back: never stored, or stored but locked. Only a search without unlocking tells.
    std::unique_ptr<SecretService, GObjectUnref> service(
        secret_service_get_sync(SECRET_SERVICE_NONE, deadline.cancellable(), &error));
    if (!service) ThrowVaultError(error, "vault unavailable");
    std::unique_ptr<GHashTable, HashTableUnref> attributes(secret_attributes_build(
        Schema(), "resource", resource.c_str(), "username", userName.c_str(), nullptr));
    std::unique_ptr<GList, ItemListFree> items(secret_service_search_sync(
        service.get(), Schema(), attributes.get(), SECRET_SEARCH_ALL, deadline.cancellable(), &error));
    if (error) ThrowVaultError(error, "vault search failed");
    if (items) throw PlatformError(E_ACCESSDENIED, "the vault is locked");
    throw PlatformError(E_NOTFOUND, "no such credential");
}

void PasswordVault::Add(const PasswordCredential& credential) const {
    Deadline deadline;
    GError* error = nullptr;
    std::string label = credential.resource + " " + credential.userName;
    gboolean stored = secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                 credential.password.c_str(), deadline.cancellable(), &error,
                                                 "resource", credential.resource.c_str(), "username",
                                                 credential.userName.c_str(), nullptr);
    if (error || !stored) ThrowVaultError(error, "vault store failed");
}

void PasswordVault::Remove(const PasswordCredential& credential) const {
    Deadline deadline;
    GError* error = nullptr;
    gboolean removed = secret_password_clear_sync(Schema(), deadline.cancellable(), &error, "resource",
                                                  credential.resource.c_str(), "username",
                                                  credential.userName.c_str(), nullptr);
    if (error) ThrowVaultError(error, "vault remove failed");
    if (!removed) throw PlatformError(E_NOTFOUND, "no such credential");
}

}  // namespace platform
