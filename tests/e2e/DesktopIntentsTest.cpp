// Intents and background tasks on real packages: the grammar of intents,
// and each task group's name, keys, type, executable, permissions and
// conditions.

#include "DesktopEntryTest.h"

using namespace DesktopEntry;
using TestKit::error;

namespace {

std::string line(const std::string& text, const std::string& argument = "") { return error(text + argument); }

// The valid desktop file with the application's intents.
std::string intents(const std::string& list) { return Entry + Sandbox + "Intents=" + list + "\n"; }

// The valid desktop file with one task group; the application has the
// permissions Internet and Camera.
std::string task(const std::string& body, const std::string& group = "X-Task Sync")
{
    return Entry + with(Sandbox, "Permissions", "Internet;Camera") + "[" + group + "]\n" + body;
}
const std::string Periodic = "Type=periodic\n";

class DesktopIntentsTest : public DesktopEntryTest {};

TEST_F(DesktopIntentsTest, IntentsFollowTheirGrammar)
{
    expectLines({
        {intents("Start;OpenURI:gui;X-Custom/handler:gui;X-Custom-2"), {}},
        {intents("start;X-custom;S;X-A;Start/1x;Start/x"),
         {line("Invalid intent specification: ", "start"), line("Invalid intent specification: ", "X-custom"),
          line("Invalid intent specification: ", "S"), line("Invalid intent specification: ", "X-A"),
          line("Invalid intent specification: ", "Start/1x"), line("Invalid intent specification: ", "Start/x")}},
        // A non-standard name ends the examination of its intent.
        {intents("Share;Share:silent;Open-URI/view"),
         {line("Non standard intent name: ", "Share"), line("Non standard intent name: ", "Open-URI")}},
        // Every "|" separates a flag, so an empty flag list holds one empty flag.
        {intents("Start:gui|silent;OpenURI:;X-Do:|gui|"),
         {line("Unknown intent flag: ", "silent"), line("Unknown intent flag: ", "")}},
    });
}

TEST_F(DesktopIntentsTest, TaskGroupsHaveANameAndTaskKeysOnly)
{
    expectLines({
        {task(Periodic, "X-Task  Sync2") + "[X-Service Net]\nType=worker\n", {}},
        {task(Periodic, "X-Task S") + "[X-Service 2net]\nType=worker\n[X-Task Sync_1]\nType=push\n",
         {line("Invalid background task specification: ", "X-Task S"),
          line("Invalid background task specification: ", "X-Service 2net"),
          line("Invalid background task specification: ", "X-Task Sync_1")}},
        // The keys come first, then the task's own findings.
        {task("Name=x\nType=daily\nIcon=y\n"),
         {line("[desktop] Key 'Name' disallowed for background tasks"), line("[desktop] Key 'Icon' disallowed for background tasks"),
          line("Unsupported background task type: ", "daily")}},
    });
}

TEST_F(DesktopIntentsTest, TaskTypeIsOneOfSix)
{
    std::vector<Case> cases;
    for (const char* type : {"mdmclient", "periodic", "push", "scheduled", "session-start", "worker"})
        cases.push_back({task(std::string("Type=") + type + "\n"), {}});
    cases.push_back({task("Type=Periodic\n"), {line("Unsupported background task type: ", "Periodic")}});
    cases.push_back({task("Exec=" + N + "\n"), {line("Unsupported background task type: ")}});
    expectLines(cases);
}

TEST_F(DesktopIntentsTest, TaskExecutableIsThePackagesOrOneNamedAfterIt)
{
    const auto exec = [](const std::string& value) { return task(Periodic + "Exec=" + value + "\n"); };
    expectLines({
        {exec(N), {}},
        {exec("/usr/bin/" + N), {}},
        {exec("/usr/bin/" + N + ".sync"), {}},
        {exec(N + ".sync_2-b --now"), {}},
        {task(Periodic + "Exec=\n"), {}},
        {exec("/usr/bin/" + N + ".1sync"), {line("Invalid characters in executable name: ", "/usr/bin/" + N + ".1sync")}},
        {exec(N + ".s --x"), {line("Invalid characters in executable name: ", N + ".s")}},
        {exec(N + ".sy.nc"), {line("Invalid characters in executable name: ", N + ".sy.nc")}},
        {exec("/usr/libexec/x"), {line("Executable missing or in wrong path: ", "/usr/libexec/x")}},
        {exec(N + "x"), {line("Executable missing or in wrong path: ", N + "x")}},
    });
}

TEST_F(DesktopIntentsTest, TaskPermissionsAreTheApplicationsLessTheForbidden)
{
    expectLines({
        {task(Periodic + "Permissions=Internet\n"), {}},
        // Camera is forbidden although the application has it.
        {task(Periodic + "Permissions=Camera;BaseTask;Location;Audio\n"),
         {line("Permission not allowed for tasks: ", "Camera"), line("BaseTask permission is implicit, please remove it"),
          line("Task permission needs to be in application too: ", "Location"),
          line("Permission not allowed for tasks: ", "Audio")}},
    });
}

TEST_F(DesktopIntentsTest, TaskConditionsAreKnownWithTheirSubtypes)
{
    expectLines({
        {task(Periodic + "Conditions=internet;internet:wifi;internet:wifi-or-ethernet;idle;charging;battery-not-low\n"), {}},
        {task(Periodic + "Conditions=internet:bluetooth;idle:wifi;Internet;sleeping;a;internet:\n"),
         {line("Unknown internet condition subtype: ", "bluetooth"), line("Unknown idle condition subtype: ", "wifi"),
          line("Invalid condition specification: ", "Internet"), line("Unknown task condition: ", "sleeping"),
          line("Invalid condition specification: ", "a"), line("Invalid condition specification: ", "internet:")}},
    });
}

TEST_F(DesktopIntentsTest, NothingIsCheckedWithoutASandboxSection)
{
    expectLines({{Entry + "[X-Task S]\nType=daily\nFoo=1\n",
                  {error("[tervane] X-Application section should be specified in desktop file")}}});
}

} // namespace
