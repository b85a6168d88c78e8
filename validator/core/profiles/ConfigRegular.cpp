#include "core/profiles/Profiles.h"

#include <initializer_list>

namespace Configuration {

namespace {

using List = std::initializer_list<const char*>;

void addNames(PatternSet& set, List names)
{
    for (const char* name : names)
        set.addName(name);
}

void addExpressions(PatternSet& set, List expressions)
{
    for (const char* expression : expressions)
        set.addExpression(expression);
}

// Sandbox permissions of an ordinary application.
constexpr List kAllowedPermissions = {
    "Attestation",
    "Audio",
    "Bluetooth",
    "Call",
    "Camera",
    "Contacts",
    "DeviceInfo",
    "Documents",
    "Downloads",
    "Internet",
    "Location",
    "ManagedConfiguration",
    "MediaIndexing",
    "Microphone",
    "Music",
    "NFC",
    "Pictures",
    "Printing",
    "PublicDir",
    "PushNotifications",
    "RemovableMedia",
    "ScreenCapture",
    "SecureStorage",
    "Sensors",
    "UserDirs",
    "UsbDevices",
    "Videos",
    "WebView",
};

// Needed libraries. The expressions accept a version suffix in parentheses,
// except the private Qt API.
constexpr List kAllowedLibraryNames = {
    "ld-linux-aarch64.so.1",
    "ld-linux-armhf.so.3",
    "ld-linux-x86-64.so.2",
    "ld-linux.so.2",
    "libEGL.so.1",
    "libGLESv1_CM.so.1",
    "libGLESv2.so.2",
    "libSDL2-2.0.so.0",
    "libSDL2_gfx-1.0.so.0",
    "libSDL2_image-2.0.so.0",
    "libSDL2_mixer-2.0.so.0",
    "libSDL2_net-2.0.so.0",
    "libSDL2_ttf-2.0.so.0",
    "libbz2.so.1",
    "libc.so.6",
    "libcef.so",
    "libcrypto.so.1.1",
    "libcurl.so.4",
    "libdbus-1.so.3",
    "libdl.so.2",
    "libexpat.so.1",
    "libfontconfig.so.1",
    "libgcc_s.so.1",
    "libgio-2.0.so.0",
    "libglib-2.0.so.0",
    "libgmodule-2.0.so.0",
    "libgobject-2.0.so.0",
    "libgthread-2.0.so.0",
    "liblzma.so.5",
    "libm.so.6",
    "libogg.so.0",
    "libpng16.so.16",
    "libpthread.so.0",
    "libpulse-simple.so.0",
    "libpulse.so.0",
    "libresolv.so.2",
    "librt.so.1",
    "libsndfile.so.1",
    "libsqlite3.so.0",
    "libssl.so.1.1",
    "libstdc++.so.6",
    "libvorbis.so.0",
    "libvorbisenc.so.2",
    "libvorbisfile.so.3",
    "libvulkan.so.1",
    "libwayland-client.so.0",
    "libwayland-cursor.so.0",
    "libwayland-egl.so.1",
    "libxml2.so.2",
    "libz.so.1",
    "libostrinpdf.so.1",
    "libostrinwebauthorization.so.1",
    "libtaliroapp.so.2",
    "libtalirocontacts.so.0",
    "libtalirowebview.so",
    "libolvexnotifications-qt5.so.1",
    "libolvexthumbnailer-qt5.so.1",
    "libpeloravarnel.so.1",
    // The platform's own libraries.
    "libtaliroaccounts.so.1",
    "libtaliroauth.so.1",
    "libtalirocalendar.so.0",
    "libtalirocrypto.so.1",
    "libtalirodbusutils.so.1",
    "libtalirodeviceinfo.so.1",
    "libtalirofilestore.so.1",
    "libtalirogeoclue.so.0",
    "libtaliroi18n.so.1",
    "libtalirokeychain.so.0",
    "libtaliromedia.so.1",
    "libtaliromessaging.so.0",
    "libtaliropush.so.1",
    "libtalirosensors.so.0",
    "libtalirosettings.so.1",
    "libtalirosharing.so.1",
};

constexpr List kAllowedLibraryExpressions = {
    R"(^libQt5Concurrent\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5DBus\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Feedback\.so\.0(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Gui\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Location\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Multimedia\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Network\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Positioning\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Qml\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Quick\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Sensors\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Sql\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Svg\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5SystemInfo\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5WebKit\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5WebSockets\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5XmlPatterns\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libQt5Xml\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    R"(^libqca-qt5\.so\..*$)",
    R"(^libQt5Core\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?$)",
    // The platform's own library.
    R"(^libtaliroui\.so\.1(?:\(.*\))?$)",
};

constexpr List kUnstableLibraryNames = {
    "libQmfClient.so.5",
    "libQmfMessageServer.so.5",
    "libpcsclite.so.1",
    "libwebrtc.so.104.0.0",
    "libtaliro-controls.so",
    "libpelorapolicy.so.0",
    // The platform's own library.
    "libtalirowallet.so.0",
};

constexpr List kUnstableLibraryExpressions = {
    // The platform's own libraries.
    R"(^libtalirovoip\.so\.0(?:\(.*\))?$)",
    R"(^libtaliroar\.so\.0(?:\(.*\))?$)",
};

constexpr List kDeprecatedLibraryNames = {
    "libpng15.so.15",
    "libolvextransferengine-qt5.so.1",
    "libpeloraapp.so.1",
    "libpeloracrypto.so.0",
    "libpeloracryptopluginapi.so.0",
    "libpelorasecrets.so.0",
    "libpelorasecretspluginapi.so.0",
};

// Stored as the platform has always had them, the second one without its
// escapes (its dots match any character).
constexpr List kDeprecatedLibraryExpressions = {
    R"(^libQt5WebChannel\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?)",
    R"(^libQt5WebEngine.so.5(?:((?!Qt_5_PRIVATE_API).*))?)",
    R"(^libQt5WebEngineCore\.so\.5(?:\((?!Qt_5_PRIVATE_API).*\))?)",
};

// Package requirements.
constexpr List kAllowedDependencyNames = {
    "libSDL2-2.0.so.0",
    "libSDL2_gfx-1.0.so.0",
    "libSDL2_image-2.0.so.0",
    "libSDL2_mixer-2.0.so.0",
    "libSDL2_net-2.0.so.0",
    "libSDL2_ttf-2.0.so.0",
    "libbz2.so.1",
    "libexpat.so.1",
    "liblzma.so.5",
    "libogg.so.0",
    "libsndfile.so.1",
    "libsqlite3.so.0",
    "libvorbis.so.0",
    "libvorbisenc.so.2",
    "libvorbisfile.so.3",
    "libxml2",
    "qt5-plugin-geoservices-osm",
    "qt5-plugin-geoservices-webtiles",
    "qt5-plugin-imageformat-gif",
    "qt5-plugin-imageformat-ico",
    "qt5-plugin-imageformat-jpeg",
    "qt5-qtdeclarative-import-folderlistmodel",
    "qt5-qtdeclarative-import-localstorageplugin",
    "qt5-qtdeclarative-import-location",
    "qt5-qtdeclarative-import-models2",
    "qt5-qtdeclarative-import-multimedia",
    "qt5-qtdeclarative-import-particles2",
    "qt5-qtdeclarative-import-positioning",
    "qt5-qtdeclarative-import-sensors",
    "qt5-qtdeclarative-import-websockets",
    "qt5-qtdeclarative-import-xmllistmodel",
    "qt5-qtdeclarative-qtquickparticles",
    "qt5-qtgraphicaleffects",
    "qt5-qtlocation",
    "qt5-qtmultimedia",
    "qt5-qtmultimedia-plugin-audio-pulseaudio",
    "qt5-qtmultimedia-plugin-mediaservice-gstmediacapture",
    "qt5-qtmultimedia-plugin-mediaservice-gstmediaplayer",
    "qt5-qtpositioning",
    "qt5-qtqml-import-webkitplugin",
    "qt5-qtquickcontrols-layouts",
    "qt5-qtsvg",
    "qt5-qtsvg-plugin-imageformat-svg",
    "qt5-qtwebsockets",
    "ostrin-web-authorization",
    "ostrinpdf-qml-plugin",
    "talirocontacts",
    "libtaliroapp",
    "libtaliroapp-launcher",
    "mapplauncherd-booster-varnel-qt5",
    "olvex-qml-plugin-configuration-qt5",
    "olvex-qml-plugin-dbus-qt5",
    "olvex-qml-plugin-notifications-qt5",
    "olvex-qml-plugin-thumbnailer-qt5",
    "org.taliroos.webview",
    "pelora-components-webview-qt5",
    "pelora-components-webview-qt5-pickers",
    "pelora-components-webview-qt5-popups",
    "peloravarnel-qt5",
    // Added a second time in the platform's list; the set keeps it once.
    "qt5-qtdeclarative-import-xmllistmodel",
    // The platform's own packages.
    "taliro-accounts-qml-plugin",
    "taliro-auth-qml-plugin",
    "taliro-calendar-qml-plugin",
    "taliro-crypto-qml-plugin",
    "taliro-deviceinfo-qml-plugin",
    "taliro-filestore-qml-plugin",
    "taliro-i18n-qml-plugin",
    "taliro-keychain-qml-plugin",
    "taliro-media-qml-plugin",
    "taliro-push-qml-plugin",
    "taliro-settings-qml-plugin",
    "taliro-sharing-qml-plugin",
};

constexpr List kAllowedDependencyExpressions = {
    R"(^ld-linux-aarch64\.so\.1(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^ld-linux-armhf\.so\.3(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^ld-linux-x86-64\.so\.2(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^ld-linux\.so\.2(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^libcrypto\.so\.1\.1(?:\(OPENSSL_1_1_.*\))?$)",
    R"(^libdbus-1\.so\.3(?:\(.*\))?$)",
    R"(^libdl\.so\.2(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^libgcc_s\.so\.1(?:\(.*\))?$)",
    R"(^libm\.so\.6(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^libpng16\.so\.16(?:\(.*\))?$)",
    R"(^libpthread\.so\.0(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^libpulse-simple\.so\.0(?:\(.*\))?$)",
    R"(^libpulse\.so\.0(?:\(.*\))?$)",
    R"(^librt\.so\.1(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^libssl\.so\.1\.1(?:\(OPENSSL_1_1_.*\))?$)",
    R"(^libssl\.so\.1\.1(?:\(libssl\.so\.1\.1\))?$)",
    R"(^libstdc\+\+\.so\.6(?:\(.*\))?$)",
    R"(^libxml2\.so\.2(?:\(.*\))?$)",
    R"(^libz\.so\.1(?:\(.*\))?$)",
    R"(^libc\.so\.6(?:\((?!GLIBC_PRIVATE).*\))?$)",
    R"(^libostrinwebauthorization\.so\.1(?:\(.*\))?$)",
};

// QML imports, "Module version".
constexpr List kAllowedImports = {
    "Qt.labs.folderlistmodel 2.1",
    "QtFeedback 5.0",
    "QtGraphicalEffects 1.0",
    "QtLocation 5.0",
    "QtMultimedia 5.0",
    "QtMultimedia 5.1",
    "QtMultimedia 5.2",
    "QtMultimedia 5.3",
    "QtMultimedia 5.4",
    "QtMultimedia 5.5",
    "QtMultimedia 5.6",
    "QtPositioning 5.2",
    "QtPositioning 5.3",
    "QtPositioning 5.4",
    "QtQml 2.0",
    "QtQml 2.1",
    "QtQml 2.2",
    "QtQml.Models 2.1",
    "QtQml.Models 2.2",
    "QtQml.Models 2.3",
    "QtQuick 2.0",
    "QtQuick 2.1",
    "QtQuick 2.2",
    "QtQuick 2.3",
    "QtQuick 2.4",
    "QtQuick 2.5",
    "QtQuick 2.6",
    "QtQuick.Layouts 1.0",
    "QtQuick.Layouts 1.1",
    "QtQuick.LocalStorage 2.0",
    "QtQuick.Particles 2.0",
    "QtQuick.Window 2.0",
    "QtQuick.Window 2.1",
    "QtQuick.Window 2.2",
    "QtQuick.XmlListModel 2.0",
    "QtSensors 5.0",
    "QtSensors 5.1",
    "QtSensors 5.2",
    "QtWebKit 3.0",
    "QtWebSockets 1.0",
    "QtWebSockets 1.1",
    "io.thp.pyotherside 1.0",
    "io.thp.pyotherside 1.1",
    "io.thp.pyotherside 1.2",
    "io.thp.pyotherside 1.3",
    "io.thp.pyotherside 1.4",
    "io.thp.pyotherside 1.5",
    "org.freedesktop.contextkit 1.0",
    "Ostrin.Web.Authorization 1.0",
    "Taliro.Workspace 1.0",
    "Olvex.Configuration 1.0",
    "Olvex.DBus 2.0",
    "Olvex.KeepAlive 1.2",
    "Olvex.Ngf 1.0",
    "Olvex.Notifications 1.0",
    "Olvex.Thumbnailer 1.0",
    "Pelora.Bluetooth 1.0",
    "Pelora.Pickers 1.0",
    "Pelora.Share 1.0",
    "Pelora.Varnel 1.0",
    "Pelora.WebEngine 1.0",
    "Pelora.WebView 1.0",
    "Pelora.WebView.Pickers 1.0",
    "Pelora.WebView.Popups 1.0",
    "org.olvexmobile.contentaction 1.0",
    "org.taliroos.WebView 1.0",
    "org.taliroos.WebView.Global 1.0",
    "org.brevane.ostrinpdf 1.0",
};

constexpr List kDeprecatedImports = {
    "QtWebEngine 1.0",
    "QtWebEngine 1.1",
    "QtWebEngine 1.2",
    "org.olvexmobile.configuration 1.0",
    "org.olvexmobile.dbus 2.0",
    "org.olvexmobile.notifications 1.0",
    "org.olvexmobile.thumbnailer 1.0",
    "Pelora.TransferEngine 1.0",
};

constexpr List kUnstableDependencies = {
    "taliro-controls",
    "taliro-lottie-plugin",
};

constexpr List kDeprecatedDependencies = {
    "libpng15.so.15(PNG15_0)",
    "libpeloraapp",
    "libpeloraapp-launcher",
    "olvex-qml-plugin-filemanager",
    "qt5-qtwebengine",
};

constexpr List kUnstableImports = {
    "Taliro.Controls 1.0",
    "Taliro.Lottie 1.0",
    "Olvex.FileManager 1.0",
    "Pelora.Policy 1.0",
    // The platform's own module.
    "Taliro.Wallet 1.0",
};

} // namespace

ConfigRegular::ConfigRegular()
{
    m_name = "regular";
    m_exclusiveProvide.clear();
    m_extraInstallPaths.addExpression(R"(^\/usr\/bin\/.*$)");
    addNames(m_allowedPermissions, kAllowedPermissions);
    addNames(m_allowedLibraries, kAllowedLibraryNames);
    addExpressions(m_allowedLibraries, kAllowedLibraryExpressions);
    addNames(m_unstableLibraries, kUnstableLibraryNames);
    addExpressions(m_unstableLibraries, kUnstableLibraryExpressions);
    addNames(m_deprecatedLibraries, kDeprecatedLibraryNames);
    addExpressions(m_deprecatedLibraries, kDeprecatedLibraryExpressions);
    addNames(m_allowedDependencies, kAllowedDependencyNames);
    addExpressions(m_allowedDependencies, kAllowedDependencyExpressions);
    addNames(m_allowedImports, kAllowedImports);
    addNames(m_unstableImports, kUnstableImports);
    addNames(m_deprecatedImports, kDeprecatedImports);
    addNames(m_unstableDependencies, kUnstableDependencies);
    addNames(m_deprecatedDependencies, kDeprecatedDependencies);
}

} // namespace Configuration
