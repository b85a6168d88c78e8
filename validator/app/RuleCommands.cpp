#include "app/RuleCommands.h"

#include "app/report/Baseline.h"
#include "checks/RuleCatalog.h"
#include "common/VisibleText.h"
#include "core/Profile.h"

#include <iostream>
#include <stdexcept>

namespace Validator {

namespace {

void unknownRule(const std::string& name)
{
    std::cerr << "Unknown rule \"" << Common::visibleText(name) << "\": vetrik --list-rules lists them" << std::endl;
}

} // namespace

int explainRules(const std::vector<std::string>& names)
{
    if (names.empty()) {
        std::cerr << "--explain needs the name of a rule: vetrik --list-rules lists them" << std::endl;
        return 1;
    }
    std::vector<const Rule*> rules;
    for (const std::string& name : names) {
        if (const Rule* rule = findRule(name))
            rules.push_back(rule);
        else
            unknownRule(name);
    }
    if (rules.size() != names.size())
        return 1;
    for (std::size_t i = 0; i < rules.size(); ++i)
        std::cout << (i > 0 ? "\n" : "") << explanation(*rules[i]);
    std::cout.flush();
    return 0;
}

int listRules(const std::string& profileName)
{
    Profile profile = Profile::Regular;
    if (!profileName.empty()) {
        try {
            profile = profileByName(profileName);
        } catch (const std::out_of_range&) {
            std::cerr << "Unknown profile \"" << Common::visibleText(profileName)
                      << "\": choose one of " << profileListText() << std::endl;
            return 1;
        }
    }
    const Config config(profile, Config::DeveloperMode::Ignored);
    for (const Rule& rule : allRules()) {
        std::cout << rule.name() << '\t' << rule.group->name() << '\t' << severityName(rule.spec().level) << '\t'
                  << (checkedUnder(rule, config) ? "checked" : "not-checked") << '\n';
    }
    std::cout.flush();
    return 0;
}

bool acceptanceFromOptions(const std::vector<std::string>& ignoredRules, const std::string* baseline,
                           FindingAcceptance& acceptance)
{
    bool usable = true;
    for (const std::string& name : ignoredRules) {
        const Rule* rule = findRule(name);
        if (!rule) {
            unknownRule(name);
            usable = false;
        } else if (rule->spec().level == LogLevel::Critical) {
            std::cerr << "Cannot ignore " << name << ": a critical finding is never accepted" << std::endl;
            usable = false;
        } else {
            acceptance.ignore(name);
        }
    }
    if (baseline) {
        std::string error;
        if (!readBaseline(*baseline, acceptance, error)) {
            std::cerr << "Cannot read the baseline " << Common::visibleText(*baseline) << ": "
                      << Common::visibleText(error) << std::endl;
            usable = false;
        }
    }
    return usable;
}

} // namespace Validator
