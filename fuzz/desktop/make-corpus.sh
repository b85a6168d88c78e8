#!/bin/sh
# Seed corpus of the desktop fuzzer, and its dictionary (written beside the
# corpus as desktop.dict): desktop files that reach every checker, and the
# words the checkers look for.
set -eu
out=$1
mkdir -p "$out"
n=org.example.app

entry="[Desktop Entry]
Type=Application
Name=Example
Icon=$n
Exec=/usr/bin/$n
X-Olvex-Application-Type=varnel-qt5
"
sandbox="[X-Application]
OrganizationName=org.example
ApplicationName=app
Permissions=Internet;Camera
"

seed() { printf '%s' "$2" > "$out/$1"; }

seed valid "$entry
$sandbox"
seed qml-only "$(printf '%s' "$entry" | sed "s|^Exec=.*|Exec=pelora-qml $n|")
$sandbox"
seed vendor-groups "$entry
$sandbox
[X-Taliro-Application]
Orientation=Portrait;Landscape;portrait
IconMode=Crop
Size=1
[X-Taliro-SplashScreen]
GradientStartColor=#FFF
GradientEndColor=#GG0000
"
seed intents "$entry
$sandbox
Intents=Start;OpenURI:gui;X-Custom/handler:gui|silent;Share;start
ExecDBus=/usr/libexec/$n/service
"
seed tasks "$entry
$sandbox
[X-Task Sync]
Type=periodic
Exec=/usr/bin/$n.sync --now
Permissions=Internet;BaseTask;Camera;Location
Conditions=internet:wifi;idle:wifi;Internet;sleeping
[X-Service  Net]
Type=daily
Foo=1
"
seed attestation-capabilities "$entry
$sandbox
[Attestation]
ActionOnBadAttestation=RemoveAll
[X-Taliro-Capabilities]
Input=Mouse;Keyboard
ScreenOrientation=Portrait;Landscape;
Camera=1
"
seed sections "$entry
[Tervane]
OrganizationName=Org.1example
ApplicationName=my-app.task_x
[X-Tervane]
ExecSystemService=/usr/libexec/$n/service
ExecSystemServiceUser=pelora-mdm
ExecSystemServiceGroup=privileged
ExecDBus=$n
X-Share-Methods=Email
[X-Share Method Email]
"
seed escapes "[Desktop Entry]
Name=A\\sB\\tC\\;D
X-Share-Methods=a\\;b;c\\q;d\\
Name[de]=x
"
seed broken "[Desktop Entry]
no key here
"

# At and just beyond the desktop-entry layer's limits (ManifestEntry's
# kMaxGroups, kMaxKeys and kMaxFileBytes), written small: the harness
# expands "#repeat N [L]" into N copies of the L lines after it, "@" in
# them numbered.
groups=1000 keys=20000 bytes=1048576
# The entry and the sandbox section: 2 groups, 8 keys.
seed groups-at-limit "$entry$sandbox#repeat $((groups - 2))
[G@]
"
seed groups-beyond "$entry$sandbox#repeat $((groups - 1))
[G@]
"
seed tasks-at-limit "$entry$sandbox#repeat $((groups - 2)) 3
[X-Task T@]
Type=periodic
Exec=/usr/bin/$n.t@
"
seed keys-at-limit "$entry#repeat $((keys - 8))
Comment[l@]=x
$sandbox"
seed keys-beyond "$entry#repeat $((keys - 7))
Comment[l@]=x
$sandbox"
seed capabilities-keys "$entry$sandbox[X-Taliro-Capabilities]
#repeat $((keys - 8))
Input@=Mouse
"
# Blank lines, one byte each, fill the file to the size limit.
head=$(printf '%s' "$entry$sandbox" | wc -c)
seed size-at-limit "$entry$sandbox#repeat $((bytes - head))

"
seed size-beyond "$entry$sandbox#repeat $((bytes - head + 1))

"

dict=$(dirname "$out")/desktop.dict
: > "$dict"
for word in "[Desktop Entry]" "[X-Application]" "[X-Tervane]" "[Tervane]" "[X-Taliro-Application]" \
    "[X-Taliro-SplashScreen]" "[Attestation]" "[X-Taliro-Capabilities]" "[X-Task " "[X-Service " "[X-Share Method " \
    "Name=" "Icon=" "Type=" "Exec=" "X-Olvex-Application-Type=" "varnel-qt5" "Application" "X-Share-Methods=" \
    "OrganizationName=" "ApplicationName=" "Permissions=" "ExecDBus=" "ExportDBusInterfaces=" "Intents=" \
    "ExecSystemService=" "ExecSystemServiceUser=" "ExecSystemServiceGroup=" "ExecSystemServiceAutostart=" \
    "Orientation=" "IconMode=" "GradientStartColor=" "GradientEndColor=" "ActionOnBadAttestation=" "RemoveAll" \
    "Input=" "UserInterface=" "ScreenOrientation=" "Conditions=" "internet" "wifi" "periodic" "BaseTask" \
    "pelora-qml " "taliro-qml " "/usr/bin/" "/usr/libexec/" "$n" "org.example" "OpenURI" "Start" ":gui" "X-" \
    "\\s" "\\;" ";" "|" "@" "#FFF" "#repeat 1000 " "#repeat 20000 " "#repeat 1048576"; do
    printf '"%s"\n' "$(printf '%s' "$word" | sed 's/\\/\\\\/g; s/"/\\"/g')" >> "$dict"
done
