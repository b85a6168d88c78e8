// Writes vetrik-rules(7), the reference of every rule vetrik checks, from
// the rule tables themselves: to the file given, or to standard output.
//
// The page is checked in, so that a change of a rule shows in review as a
// change of the page; the test man.rules_page fails when the two disagree,
// and `cmake --build build --target rules-page` writes the page anew.

#include "checks/MessageGroups.h"
#include "checks/RuleCatalog.h"
#include "common/VisibleText.h"
#include "core/RuleText.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

using namespace Validator;

// Text as roff reads it literally: backslashes and minus signs escaped (a
// rule name or an option must copy as typed), and no line starting with a
// control character.
std::string roff(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    return out;
}

std::string textLine(std::string_view text)
{
    const std::string line = roff(text);
    return (line.starts_with('.') || line.starts_with('\'') ? "\\&" : "") + line + "\n";
}

void writeRule(std::ostream& out, const Rule& rule)
{
    const MessageSpec& spec = rule.spec();
    out << ".TP\n.B " << roff(spec.rule) << "\n";
    out << textLine(std::string(severityName(spec.level)) + ", code " + std::to_string(rule.code)
                    + "; checked under " + RuleText::profilesWhere(spec.checkedUnder) + ".");
    out << ".br\n";
    out << "Finding: \\fB" << roff(Common::visibleText(spec.text)) << "\\fR\n";
    out << ".IP\n" << textLine(spec.explanation);
    if (!spec.accepted)
        return;
    out << ".IP\nAccepted:\n.RS\n";
    const std::string accepted = spec.accepted();
    std::istringstream lines(accepted);
    bool first = true;
    for (std::string line; std::getline(lines, line);) {
        if (!first)
            out << ".br\n";
        out << textLine(line);
        first = false;
    }
    out << ".RE\n";
}

void writePage(std::ostream& out)
{
    out << R"(.\" Written by vetrik_rules_page from the rule tables of vetrik; do not edit.
.\" cmake --build build --target rules-page writes it anew.
.TH VETRIK-RULES 7 "" "vetrik" "Taliro package tools"
.\" Names, paths and options are not to be broken or stretched.
.nh
.ad l
.SH NAME
vetrik-rules \- the rules vetrik checks packages against
.SH DESCRIPTION
Every finding
.BR vetrik (1)
prints belongs to one rule. A rule has a name that never changes once
released, a severity, and a group with a code (the
.B group
and
.B code
of a report's finding record).
.B vetrik \-\-explain
.I RULE
prints what a rule asks for,
.B vetrik \-\-list\-rules
lists them all, and
.B \-\-rule\-names
ends each finding line with its rule's name.
.B \-\-ignore
.I RULE
and
.B \-\-baseline
.I REPORT
accept known findings, but never a critical one.
.PP
Below, N stands for the package name. {0} and {1} in a finding's text stand
for its arguments, which the report gives as
.BR args .
"Checked under" names the profiles
.RB ( \-p )
that run the check behind the rule.
)";
    for (const MessageGroup* group : allMessageGroups()) {
        out << ".SH \"GROUP: " << roff(group->name()) << "\"\n";
        for (const Rule& rule : allRules()) {
            if (rule.group == group)
                writeRule(out, rule);
        }
    }
    out << ".SH \"VETRIK ITSELF\"\n";
    for (const Rule& rule : allRules()) {
        if (rule.group == &messageConstructionFailure())
            writeRule(out, rule);
    }
    out << ".SH \"SEE ALSO\"\n.BR vetrik (1)\n";
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 2) {
        std::cerr << "usage: vetrik_rules_page [FILE]\n";
        return 2;
    }
    if (argc == 1) {
        writePage(std::cout);
        return std::cout.flush() ? 0 : 1;
    }
    std::ofstream file(argv[1], std::ios::binary);
    writePage(file);
    file.close();
    if (!file) {
        std::cerr << "vetrik_rules_page: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
