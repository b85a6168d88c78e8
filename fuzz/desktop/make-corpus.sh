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
    "\\s" "\\;" ";" "|" "@" "#FFF"; do
    printf '"%s"\n' "$(printf '%s' "$word" | sed 's/\\/\\\\/g; s/"/\\"/g')" >> "$dict"
done
