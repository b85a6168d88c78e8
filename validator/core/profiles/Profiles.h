#pragma once

#include "core/profiles/ConfigBase.h"

namespace Configuration {

// An ordinary application; the base of every other profile.
class ConfigRegular : public ConfigBase {
public:
    ConfigRegular();
    bool requiresDesktopFile() const override { return true; }
    bool checksIcons() const override { return true; }
};

// Extended system access (VPN plugins, QML modules, security log).
class ConfigExtended : public ConfigRegular {
public:
    ConfigExtended();
    bool requiresDesktopFile() const override { return false; }
    bool checksIcons() const override { return false; }
};

class ConfigAuth : public ConfigExtended {
public:
    ConfigAuth();
};

// Device-management client.
class ConfigMDM : public ConfigExtended {
public:
    ConfigMDM();
};

class ConfigAntivirus : public ConfigRegular {
public:
    ConfigAntivirus();
    bool requiresDesktopFile() const override { return false; }
    bool checksIcons() const override { return true; }
};

// Application store.
class ConfigMarket : public ConfigRegular {
public:
    ConfigMarket();
};

class ConfigSystemApp : public ConfigRegular {
public:
    ConfigSystemApp();
};

// Web application.
class ConfigPwa : public ConfigRegular {
public:
    ConfigPwa();
};

} // namespace Configuration
