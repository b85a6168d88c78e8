#include "database/Confinement.h"

#include "common/VisibleText.h"

namespace PackageSignatures {

void Confinement::guard(sqlite3* connection)
{
    sqlite3_set_authorizer(connection, authorize, this);
    sqlite3_progress_handler(connection, stepsPerReport, countSteps, this);
    sqlite3_limit(connection, SQLITE_LIMIT_LENGTH, valueLimit);
    // The library's statements never attach another file.
    sqlite3_limit(connection, SQLITE_LIMIT_ATTACHED, 0);
}

void Confinement::startStatement()
{
    m_reports = 0;
    m_budgetSpent = false;
}

std::string Confinement::failure(sqlite3* connection)
{
    if (connection == nullptr)
        return "the database is not open";
    const int code = sqlite3_errcode(connection);
    std::string reason;
    if (code == SQLITE_AUTH && !m_refusedObject.empty())
        reason = "\"" + Common::visibleText(m_refusedObject) + "\" is a view or a trigger, and only tables are used";
    else if (code == SQLITE_INTERRUPT && m_budgetSpent)
        reason = "stopped after " + std::to_string(stepBudget) + " steps, more than any trust database needs";
    else
        reason = sqlite3_errmsg(connection);
    // The next refusal is named afresh.
    m_refusedObject.clear();
    return reason;
}

// The last argument names the innermost view or trigger the access is made
// for; it is null for the statement's own tables.
int Confinement::authorize(void* state, int, const char*, const char*, const char*, const char* onBehalfOf)
{
    if (onBehalfOf == nullptr)
        return SQLITE_OK;
    auto& confinement = *static_cast<Confinement*>(state);
    // The first one refused is the object the statement named; later ones
    // may be inner names of its query.
    if (confinement.m_refusedObject.empty())
        confinement.m_refusedObject = onBehalfOf;
    return SQLITE_DENY;
}

int Confinement::countSteps(void* state)
{
    auto& confinement = *static_cast<Confinement*>(state);
    if (++confinement.m_reports * uint64_t(stepsPerReport) <= stepBudget)
        return 0;
    confinement.m_budgetSpent = true;
    return 1;
}

} // namespace PackageSignatures
