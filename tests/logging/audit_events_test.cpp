// The audit events' message table as the event log's readers use it (the built DLL loaded as a
// data file, FormatMessageW with the insertion strings), and the escaping of what pages wrote.
// The events themselves are traced by Wine as they are reported: audit_events_trace.sh.
#include "common/unique_owner.h"
#include "logging/audit_events.h"
#include "support/test_environment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

using namespace testenv;

namespace {

struct MessageDefinition {
    DWORD id = 0;           // MessageId, as Event Viewer shows it
    std::string severity;   // Informational, Warning, Error
    int inserts = 0;        // the highest %n of its text
};

// Every message the source file defines: what the compiled table must hold.
std::vector<MessageDefinition> Definitions() {
    std::ifstream file(VELNOR_SOURCE_DIR "/resources/VelnorIEEvents.mc");
    std::stringstream text;
    text << file.rdbuf();
    const std::string mc = text.str();
    std::vector<MessageDefinition> definitions;
    const std::regex message(R"(MessageId=(\d+)\s+Severity=(\w+)\s+SymbolicName=\w+\s+Language=English\s+([\s\S]*?)\n\.\n)");
    for (std::sregex_iterator it(mc.begin(), mc.end(), message), end; it != end; ++it) {
        MessageDefinition definition;
        definition.id = static_cast<DWORD>(std::stoul((*it)[1]));
        definition.severity = (*it)[2];
        const std::string body = (*it)[3];
        const std::regex insert(R"(%(\d))");
        for (std::sregex_iterator i(body.begin(), body.end(), insert), e; i != e; ++i)
            definition.inserts = std::max(definition.inserts, std::stoi((*i)[1]));
        definitions.push_back(definition);
    }
    return definitions;
}

DWORD SeverityBits(const std::string& severity) {
    if (severity == "Error") return 3u << 30;
    if (severity == "Warning") return 2u << 30;
    return 1u << 30;
}

TEST(AuditEventsTest, TheDllsMessageTableGivesEveryEventItsTextWithItsInsertionStrings) {
    const std::wstring dll = BinFolder() + (Is64BitProcess() ? L"VelnorIEx64.dll" : L"VelnorIEx32.dll");
    unique_hmodule module(LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module) << Narrow(dll);
    const std::vector<MessageDefinition> definitions = Definitions();
    ASSERT_EQ(13u, definitions.size());
    for (const MessageDefinition& definition : definitions) {
        // The full identifier (severity bits and code) is what ReportEventW is given.
        const DWORD eventId = SeverityBits(definition.severity) | definition.id;
        std::vector<std::wstring> strings;
        std::vector<DWORD_PTR> arguments;
        for (int i = 1; i <= definition.inserts; ++i) strings.push_back(L"<insert " + std::to_wstring(i) + L">");
        for (const std::wstring& text : strings) arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
        wchar_t* message = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY, module.get(),
            eventId, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&message), 0,
            reinterpret_cast<va_list*>(arguments.empty() ? nullptr : arguments.data()));
        unique_localmem owned(message);
        ASSERT_GT(length, 0u) << "event " << definition.id << ": " << GetLastError();
        const std::wstring text(message, length);
        for (const std::wstring& insert : strings)
            EXPECT_NE(std::wstring::npos, text.find(insert)) << "event " << definition.id << ": " << Narrow(text);
        EXPECT_EQ(std::wstring::npos, text.find(L'%')) << "event " << definition.id << ": " << Narrow(text);
        EXPECT_EQ(definition.severity == "Error"     ? EVENTLOG_ERROR_TYPE
                  : definition.severity == "Warning" ? EVENTLOG_WARNING_TYPE
                                                     : EVENTLOG_INFORMATION_TYPE,
                  AuditEventType(eventId))
            << "event " << definition.id;
    }
    // The identifiers the code reports under are the table's.
    EXPECT_EQ((1u << 30) | 1000u, static_cast<DWORD>(MSG_INSTALLED));
    EXPECT_EQ((2u << 30) | 2001u, static_cast<DWORD>(MSG_SIGN_ON_FAILED));
    EXPECT_EQ((3u << 30) | 1003u, static_cast<DWORD>(MSG_UNINSTALL_FAILED));
}

TEST(AuditEventsTest, PageWrittenTextCannotForgeLinesOrEscapesAndIsBounded) {
    EXPECT_EQ(L"https://intranet.example.com", EscapeAuditText(L"https://intranet.example.com"));
    EXPECT_EQ(L"a\\u{000D}\\u{000A}EventID=4624\\u{0009}b", EscapeAuditText(L"a\r\nEventID=4624\tb"));
    EXPECT_EQ(L"x\\u{007F}\\u{0085}\\u{2028}\\u{0000}y", EscapeAuditText(std::wstring(L"x\x7F\x85\x2028", 4) +
                                                                          std::wstring(1, L'\0') + L"y"));
    // A backslash of the page's own cannot pass for an escape the writer made; a path's stay.
    EXPECT_EQ(L"\\u{005C}u{000A}", EscapeAuditText(L"\\u{000A}"));
    EXPECT_EQ(L"C:\\Program Files\\u", EscapeAuditText(L"C:\\Program Files\\u"));
    EXPECT_EQ(L"caf\x00E9 \x4E2D", EscapeAuditText(L"caf\x00E9 \x4E2D"));
    const std::wstring longText(kAuditStringLimit + 10, L'x');
    EXPECT_EQ(std::wstring(kAuditStringLimit, L'x') + L"...", EscapeAuditText(longText));
}

}  // namespace
