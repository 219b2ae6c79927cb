// Records: what the store holds beside sign-on templates. Each is an entry of the template array
// without "elements", so the content script of every version passes over it as no template:
//   - an outcome record, which a page puts in place of a launched template that asked to have
//     its outcome verified ("outcome": submitted, then succeeded, failed or changeRequired);
//   - the recorder record ("recorder": an id, "expires"), written by the store tool only;
//   - drafts ("draft": the recorder's id), which pages write while a recorder is live.
// None of them holds a secret. Records older than kRecordLifetime (a recorder past its expiry)
// are left out by whoever next writes the store.
#pragma once

#include "common/secret_text.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

enum class RecordKind { kNone, kOutcome, kRecorder, kDraft };

// What an entry of the array is, by its fields as the content script tells them apart.
RecordKind RecordKindOf(const nlohmann::json& entry);

constexpr long long kRecordLifetime = 600;

// The extension's stamp on an entry a page added or changed (store_merge.h): the page's origin,
// when (the extension's clock), the tab and the page's place in it. What a page writes into an
// entry's "stamp" never stands: the extension writes it anew.
struct EntryStamp {
    bool present = false;
    std::string origin;
    long long at = 0;
    std::string tab;
    long long page = 0;
};
EntryStamp StampOf(const nlohmann::json& entry);

// A record whose time is over: an outcome or draft older than kRecordLifetime (by its stamp, else
// its "at"), a recorder past its "expires" (or any of them without a time).
bool IsStaleRecord(const nlohmann::json& entry, long long now);

struct StoreRecord {
    size_t index = 0;   // its place in the array
    RecordKind kind = RecordKind::kNone;
    nlohmann::json value;
};

// The records of a store text. Entries with "elements" (the templates) are passed over unparsed,
// so that the passwords they carry are not copied. Empty for a text that is no array.
std::vector<StoreRecord> ReadStoreRecords(std::wstring_view text);

// `stored` with the entries at the positions in `leaveOut` and every stale record left out, and
// `append` added at the end; every other entry stays byte for byte. False (out untouched) when
// `stored` is no template array.
bool EditStoreText(std::wstring_view stored, const std::vector<size_t>& leaveOut,
                   const std::vector<const SecretText*>& append, long long now, SecretText& out);

// ---- outcome records ----

// Outcomes as they are written: a page sets "submitted", then one of the others. "notSubmitted":
// the login form stood on the page again and no request had left it.
constexpr char kOutcomeSubmitted[] = "submitted";
constexpr char kOutcomeSucceeded[] = "succeeded";
constexpr char kOutcomeFailed[] = "failed";
constexpr char kOutcomeChangeRequired[] = "changeRequired";
constexpr char kOutcomeNotSubmitted[] = "notSubmitted";
// How a page reached it ("how"): a find of the template's verify shown on the page, or a guess
// from what the page did (the time passed, the login form shown again).
constexpr char kEvidenceSeen[] = "seen";
constexpr char kEvidenceGuessed[] = "guessed";

struct SignOnOutcome {
    size_t index = 0;
    std::string site;         // "https://host" (the record's url without its "/*")
    std::string name;         // the catalog entry's, when the template had one
    std::string credential;   // the Credential Manager target it was launched with
    bool passwordChange = false;   // a password change's ("kind"): its failure refuses no password
    std::string attempt;      // the launch's id
    std::string outcome;
    std::string how;          // kEvidenceSeen or kEvidenceGuessed (empty while submitted)
    bool sent = false;        // the page saw a request leave for the site after the form was filled
    long long at = 0;         // when the page submitted, seconds since 1970 UTC (the page's word)
    EntryStamp stamp;         // who wrote the record last, as the extension says
};

// Whether a page's word is that the site answered the password itself: a failure find shown, or
// the login form shown again after a request had left for the site. Only such a failure says
// anything against a password.
bool SiteRefusedPassword(const SignOnOutcome& outcome);

std::vector<SignOnOutcome> OutcomesOf(const std::vector<StoreRecord>& records);

// For the log: one line per outcome record of `after` that is new or changed since `before`
// ("https://host (name): failed, seen"), never a user name or password; what a page wrote is
// escaped (EscapeControls).
std::vector<std::wstring> OutcomeChanges(std::wstring_view before, std::wstring_view after);

// ---- the recorder ----

// The recorder record's text: live until `expires` (seconds since 1970 UTC).
std::wstring RecorderRecordText(const std::string& id, long long expires, const std::string& name);
