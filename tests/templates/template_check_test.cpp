// The checker: one message per problem, and its find and action types against the schema that
// defines them for administrators and for the content script (adding a type in one place without
// the other fails here).
#include "templates/template_check.h"

#include "support/test_environment.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

namespace {

nlohmann::json Schema() {
    std::wstring path = L"Z:" + testenv::Widen(VELNOR_SOURCE_DIR "/content/template.schema.json");
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return nlohmann::json::parse(testenv::ReadFileBytes(path));
}

std::vector<std::string> Enum(const nlohmann::json& schema, const char* definition) {
    for (const char* definitions : {"definitions", "$defs"}) {
        if (!schema.contains(definitions) || !schema[definitions].contains(definition)) continue;
        return schema[definitions][definition]["properties"]["type"]["enum"].get<std::vector<std::string>>();
    }
    ADD_FAILURE() << "the schema defines no " << definition;
    return {};
}

TEST(TemplateCheckTest, CheckNamesEachProblem) {
    struct Case {
        std::string text;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"[{\"url\": \"a\",\n  \"elements\": [}]", {"JSON syntax error at line 2, column 16: "}},
        {"{\"url\": \"a\"}", {"the top level must be an array of templates"}},
        {"[5, {\"elements\": []}, {\"url\": 3, \"elements\": {}}]",
         {"template 1: must be an object", "template 2: url is required", "template 3: url must be a string",
          "template 3: elements must be an array"}},
        {"[{\"url\": \"u\"}]", {"template 1 (u): elements is required"}},
        {"[{\"url\": \"u\", \"elements\": [], \"maxRetries\": -2, \"retryInterval\": 0, \"startElement\": 1.5, "
         "\"startAction\": \"0\", \"ID\": 0, \"title\": 7}]",
         {"template 1 (u): title must be a string", "template 1 (u): maxRetries must be an integer of -1 or more",
          "template 1 (u): retryInterval must be a number above 0 (seconds)",
          "template 1 (u): startElement must be an integer of 0 or more",
          "template 1 (u): startAction must be an integer of 0 or more",
          "template 1 (u): ID must be an integer of 1 or more"}},
        {"[{\"url\": \"u\", \"elements\": [null, {\"find\": {\"type\": \"tag\"}, \"actions\": {}},"
         "{\"find\": 3, \"actions\": [null, {\"type\": \"jump\"}]}]}]",
         {"template 1 (u): elements[0] must be an object",
          "template 1 (u): elements[1].find.type must be one of id, name, class, xpath, selector",
          "template 1 (u): elements[1].find.value must be a non-empty string",
          "template 1 (u): elements[1].actions must be an array", "template 1 (u): elements[2].find must be an object",
          "template 1 (u): elements[2].actions[0] must be an object",
          "template 1 (u): elements[2].actions[1].type must be one of text, click, select, checkbox, keypress, "
          "enable, sendEvent, delay, httpBasicAuth"}},
        {"[{\"url\": \"u\", \"elements\": [{\"actions\": [{\"type\": \"text\"}, {\"type\": \"select\"}, "
         "{\"type\": \"checkbox\", \"selected\": true}, {\"type\": \"sendEvent\"}, {\"type\": \"delay\", \"value\": \"1\"}, "
         "{\"type\": \"httpBasicAuth\", \"username\": \"a\\r\", \"password\": \"b\"}]}]}]",
         {"template 1 (u): elements[0].actions[0]: text needs value (a string, number or boolean)",
          "template 1 (u): elements[0].actions[1]: select needs one of value, byValue, byDisplay",
          "template 1 (u): elements[0].actions[2]: checkbox needs selected, \"true\" or \"false\" (as text)",
          "template 1 (u): elements[0].actions[3]: sendEvent needs event (a non-empty string)",
          "template 1 (u): elements[0].actions[4]: delay needs value, a number of 0 or more (milliseconds)",
          "template 1 (u): elements[0].actions[5]: httpBasicAuth needs username and password (strings without line breaks)"}},
        {"[{\"url\": \"u\", \"elements\": [{\"actions\": [{\"type\": \"text\", \"value\": \"v\", \"events\": \"yes\"}, "
         "{\"type\": \"select\", \"value\": 1, \"events\": 1}, {\"type\": \"checkbox\", \"selected\": \"true\", \"byClick\": \"true\"}, "
         "{\"type\": \"click\", \"events\": \"carried along\"}, {\"type\": \"text\", \"value\": \"v\", \"events\": true}]}]}]",
         {"template 1 (u): elements[0].actions[0].events must be true or false",
          "template 1 (u): elements[0].actions[1].events must be true or false",
          "template 1 (u): elements[0].actions[2].byClick must be true or false"}},
        {"\xC3\x28", {"the text is not valid UTF-8"}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> problems = CheckTemplateText(c.text);
        ASSERT_EQ(c.messages.size(), problems.size()) << c.text;
        for (size_t i = 0; i < problems.size(); ++i) EXPECT_EQ(0u, problems[i].find(c.messages[i])) << problems[i];
    }
    EXPECT_TRUE(CheckTemplateText("[]").empty());
}

TEST(TemplateCheckSchemaTest, FindTypesAreTheSchemas) {
    EXPECT_EQ(Enum(Schema(), "find"), TemplateFindTypes());
    EXPECT_EQ(Enum(Schema(), "verifyFind"), VerifyFindTypes());
}

TEST(TemplateCheckSchemaTest, ActionTypesAreTheSchemas) {
    EXPECT_EQ(Enum(Schema(), "action"), TemplateActionTypes());
}

TEST(TemplateCheckSchemaTest, EveryTypeOfTheSchemaPassesTheChecker) {
    for (const std::string& type : TemplateFindTypes()) {
        const std::string text = R"([{"url": "https://site/*", "elements": [{"find": {"type": ")" + type + R"(", "value": "x"}}]}])";
        EXPECT_TRUE(CheckTemplateText(text).empty()) << type;
    }
    EXPECT_FALSE(CheckTemplateText(R"([{"url": "https://site/*", "elements": [{"find": {"type": "tag", "value": "x"}}]}])").empty());
}

}  // namespace
