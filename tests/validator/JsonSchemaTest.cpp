// The tests' checker of reports against the report schema: it passes the
// records vetrik writes and catches each kind of departure from them.

#include "JsonSchema.h"
#include "TestKit.h"

#include <boost/json.hpp>
#include <gtest/gtest.h>

namespace {

const std::string kFinding =
    R"({"type":"finding","package":"a.rpm","severity":"error","group":"package","code":0,)"
    R"("rule":"install-location-not-allowed","text":"[/opt/x] Installation not allowed in this location",)"
    R"("args":["/opt/x"],"path":"/opt/x","suppressed":false})";
const std::string kPackage =
    R"({"type":"package","package":"a.rpm","outcome":"not-validated","profile":null,"profile_source":null,"reason":"r","name":null,)"
    R"("version":null,"release":null,"arch":null,"findings":0,"accepted":0,"milliseconds":3})";
const std::string kSummary =
    R"({"type":"summary","packages":1,"passed":0,"failed":0,"not_validated":1,)"
    R"("findings":{"critical":0,"error":0,"warning":0,"info":0},"accepted":{"ignore":0,"baseline":0},"milliseconds":3})";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

TEST(JsonSchemaTest, ReportRecordsPassAndEveryDepartureFails)
{
    const boost::json::value schema =
        boost::json::parse(TestKit::readFile(REPORT_SCHEMA_FILE));
    for (const std::string& good :
         {kFinding, kPackage, kSummary, replaced(kFinding, R"("path":"/opt/x")", R"("path":null)"),
          replaced(kFinding, R"("suppressed":false)", R"("suppressed":true,"suppressed_by":"baseline")")}) {
        EXPECT_TRUE(TestKit::schemaErrors(schema, boost::json::parse(good)).empty()) << good;
    }
    struct Case {
        const char* what;
        std::string record;
    };
    const Case bad[] = {
        {"no rule", replaced(kFinding, R"("rule":"install-location-not-allowed",)", "")},
        {"an unknown member", replaced(kFinding, R"("code":0,)", R"("code":0,"extra":1,)")},
        {"an unknown severity", replaced(kFinding, R"("error")", R"("fatal")")},
        {"a negative code", replaced(kFinding, R"("code":0)", R"("code":-1)")},
        {"a code that is no integer", replaced(kFinding, R"("code":0)", R"("code":0.5)")},
        {"an argument that is no string", replaced(kFinding, R"(["/opt/x"])", R"(["/opt/x",1])")},
        {"a path that is a number", replaced(kFinding, R"("path":"/opt/x")", R"("path":7)")},
        {"an unknown acceptance", replaced(kFinding, R"("suppressed":false)", R"("suppressed":true,"suppressed_by":"x")")},
        {"an unknown type", replaced(kFinding, R"("type":"finding")", R"("type":"note")")},
        {"a header field that is a number", replaced(kPackage, R"("arch":null)", R"("arch":1)")},
        {"an unknown outcome", replaced(kPackage, R"("not-validated")", R"("skipped")")},
        {"an unknown profile source", replaced(kPackage, R"("profile_source":null)", R"("profile_source":"guess")")},
        {"a summary without accepted", replaced(kSummary, R"(,"accepted":{"ignore":0,"baseline":0})", "")},
        {"a summary count missing", replaced(kSummary, R"("info":0)", R"("infos":0)")},
        {"no object", "[1]"},
    };
    for (const Case& c : bad)
        EXPECT_FALSE(TestKit::schemaErrors(schema, boost::json::parse(c.record)).empty()) << c.what;

    // A schema keyword the checker does not know fails rather than passes.
    const boost::json::value unknown = boost::json::parse(R"({"type":"object","patternProperties":{}})");
    EXPECT_FALSE(TestKit::schemaErrors(unknown, boost::json::parse("{}")).empty());
}

} // namespace
