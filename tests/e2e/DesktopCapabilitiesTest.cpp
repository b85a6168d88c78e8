// The attestation and capabilities groups on real packages: closed tables
// of keys and values, and the stricter reading of the capabilities checker.

#include "DesktopEntryTest.h"

using namespace DesktopEntry;
using TestKit::error;

namespace {

const std::string Valid = Entry + Sandbox;
std::string invalidValue(const std::string& value, const std::string& key)
{
    return error("[desktop] invalid value '" + value + "' for '" + key + "' key");
}
std::string invalidKey(const std::string& key, const std::string& group)
{
    return error("[desktop] invalid key '" + key + "' in '" + group + "' group");
}

class DesktopAttestationTest : public DesktopEntryTest {};
class DesktopCapabilitiesTest : public DesktopEntryTest {};

TEST_F(DesktopAttestationTest, ActionOnBadAttestationIsRequiredAndAlone)
{
    const std::string group = "[Attestation]\n";
    expectLines({
        {Valid + group + "ActionOnBadAttestation=RemoveAll\n", {}},
        {Valid + group + "ActionOnBadAttestation=None\n", {}},
        {Valid + group + "ActionOnBadAttestation=remove\n", {invalidValue("remove", "ActionOnBadAttestation")}},
        {Valid + group + "ActionOnBadAttestation=\n", {invalidValue("", "ActionOnBadAttestation")}},
        // The missing key hides every other finding.
        {Valid + group + "Zed=1\nAbc=2\n", {error("[desktop] no key 'ActionOnBadAttestation' in 'Attestation' group")}},
        {Valid + group, {error("[desktop] no key 'ActionOnBadAttestation' in 'Attestation' group")}},
        // Invalid keys in byte order, and they hide the values.
        {Valid + group + "Zed=1\nActionOnBadAttestation=remove\nAbc=2\n",
         {invalidKey("Abc", "Attestation"), invalidKey("Zed", "Attestation")}},
    });
}

TEST_F(DesktopCapabilitiesTest, CapabilitiesComeFromAClosedTable)
{
    const std::string group = "[X-Taliro-Capabilities]\n";
    expectLines({
        {Valid + group + "Input=Mouse;Tablet\nUserInterface=ResizeableContent\nScreenOrientation=Portrait;Landscape\n", {}},
        {Valid + group + "ScreenOrientation=Portrait;Landscape;\n", {invalidValue("", "ScreenOrientation")}},
        {Valid + group + "Input=Keyboard\nCamera=Front\nUserInterface=resizeablecontent;;Fixed\n",
         {invalidValue("Keyboard", "Input"), invalidKey("Camera", "X-Taliro-Capabilities"),
          invalidValue("resizeablecontent", "UserInterface"), invalidValue("", "UserInterface"),
          invalidValue("Fixed", "UserInterface")}},
    });
}

TEST_F(DesktopCapabilitiesTest, KeyOrGroupGivenTwiceIsABrokenFile)
{
    // The desktop-entry reader takes these, so every other check runs; the
    // INI reader of the capabilities checker does not.
    const std::string broken = error("[desktop] Broken desktop file");
    expectLines({
        {Entry + "Name=Again\n" + Sandbox, {broken}},
        {Valid + "[X-Taliro-Capabilities]\nInput=Keyboard\n[X-Taliro-Capabilities]\nInput=Mouse\n", {broken}},
        {Valid + "[X-Taliro-Capabilities]\nInput=Mouse\nInput=Keyboard\n", {broken}},
    });
}

} // namespace
