#include "app/report/ReportFormat.h"

namespace Validator {

std::unique_ptr<ReportFormat> makeReportFormat(std::string_view name, bool errorsFail)
{
    if (name == "jsonl")
        return makeJsonLinesReport();
    if (name == "junit")
        return makeJUnitReport(errorsFail);
    return nullptr;
}

} // namespace Validator
