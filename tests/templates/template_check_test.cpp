// The checker's find and action types against the schema that defines them for administrators
// and for the content script: adding a type in one place without the other fails here.
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

TEST(TemplateCheckSchemaTest, FindTypesAreTheSchemas) {
    EXPECT_EQ(Enum(Schema(), "find"), TemplateFindTypes());
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
