#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace testsupport {

// The configuration of a private session bus; with serviceDir, the bus starts the services found there.
std::string SessionBusConfig(const std::string& serviceDir = "");

// Gives the test process a session bus of its own (a dbus-daemon it starts) and a HOME of its own, so that
// tests never touch the desktop's bus or keyring and never see each other's names. Registered as a global
// environment by IntegrationMain.cpp; it must come before the first use of the bus in the process. The
// daemon goes when gtest destroys its environments at exit.
class PrivateBusEnvironment : public testing::Environment {
public:
    void SetUp() override;

private:
    std::unique_ptr<TempDir> home_;
    std::unique_ptr<ChildProcess> daemon_;
};

// gnome-keyring's Secret Service on that bus, with a login keyring created and unlocked.
class KeyringEnvironment : public testing::Environment {
public:
    void SetUp() override;

private:
    std::unique_ptr<ChildProcess> keyring_;
};

// Locks the keyring's default collection, as a screen lock or a user would. Nothing in a test can unlock
// it again: unlocking asks for the password through a prompt, and there is none.
void LockDefaultKeyring();

}  // namespace testsupport
