#include "core/profiles/Profiles.h"

namespace Configuration {

ConfigExtended::ConfigExtended()
{
    m_name = "extended";
    m_extraInstallPaths.addExpression(R"(^\/usr\/lib(|64)\/connman\/plugins-vpn\/.*$)");
    m_extraInstallPaths.addExpression(R"(^\/etc\/connman\/.*$)");
    m_extraInstallPaths.addExpression(R"(^\/usr\/share\/pelora-vpn\/.*$)");
    m_extraInstallPaths.addExpression(R"(^\/usr\/lib(|64)\/qt5\/qml\/.*$)");
    m_extraInstallPaths.addExpression(R"(^\/usr\/lib(|64)\/3rdparty\/.*$)");
    m_extraInstallPaths.addExpression(R"(^\/opt\/extension\/p11-kit-modules\/.*$)");
    m_extraInstallPaths.addExpression(R"(^\/opt\/extension\/qca-plugins\/.*$)");
    m_allowedPermissions.addName("LogSecurityEvents");
    m_allowedPermissions.addName("VPN");
    m_allowedLibraries.addName("libbrevanelog.so.1");
    m_deprecatedLibraries.addExpression(R"(^libsystemd\.so\.0(?:\(.*\))?$)");
    m_allowedDependencies.addName("connman-qt5");
    m_allowedImports.addName("Pelora.Settings.Networking.Vpn 1.0");
    m_deprecatedImports.addName("Pelora.Homescreen 1.0");
    m_deprecatedImports.addName("Pelora.Homescreen 1.1");
}

ConfigAuth::ConfigAuth()
{
    m_name = "auth";
    m_extraInstallPaths.addName("/etc/userdata-wiper/override.json");
    m_allowedPermissions.addName("AuthService");
    m_allowedPermissions.addName("SerialNumber");
    m_allowedPermissions.addName("UserdataWiper");
    m_allowedLibraries.addExpression(R"(^libudev\.so\.1(?:\(LIBUDEV_.*\))?$)");
}

ConfigMDM::ConfigMDM()
{
    m_name = "mdm";
    m_exclusiveProvide = "mdm-client";
    m_allowedPermissions.addName("AccessSecurityLog");
    m_allowedPermissions.addName("ManagedConfigurationAdmin");
    m_allowedLibraries.addName("libtalirodevicemanagement.so.1");
    m_unstableLibraries.addName("libpeloramdm.so.0");
    m_unstableLibraries.addName("libpelorapolicy.so.0");
    m_unstableLibraries.addName("libbrellisignonuiservice-qt5.so.0");
    m_unstableLibraries.addName("libsignon-qt5.so.1");
    m_unstableLibraries.addName("libtalirodevicemanagement.so.1");
    m_unstableLibraries.addName("libtaliroremotecontrol.so.0");
    m_unstableImports.addName("Pelora.Mdm 1.0");
    m_unstableImports.addName("Pelora.Policy 1.0");
}

ConfigAntivirus::ConfigAntivirus()
{
    m_name = "antivirus";
    m_extraInstallPaths.addName("/etc/av-launcher/antivirus.desktop");
    m_allowedPermissions.addName("LogSecurityEvents");
    m_allowedLibraries.addName("libdbus-glib-1.so.2");
    m_allowedLibraries.addName("libbrevanelog.so.1");
    m_allowedLibraries.addName("libtalirofilescanner.so.1");
}

ConfigMarket::ConfigMarket()
{
    m_name = "market";
    m_extraInstallPaths.addExpression(R"(^\/etc\/trusted-sources\/.+\.pem$)");
    m_allowedPermissions.addName("Market");
    m_allowedLibraries.addName("libtaliropackagemanager.so.1");
}

ConfigSystemApp::ConfigSystemApp()
{
    m_name = "systemapp";
    m_allowedPermissions.addName("PwaControl");
    m_allowedPermissions.addName("Keystore");
}

ConfigPwa::ConfigPwa()
{
    m_name = "pwa";
    m_allowedPermissions.addName("PwaRunner");
}

} // namespace Configuration
